#!/usr/bin/env bash
# The sample job. The data-file issue gives it tables to show; until then it
# shows that the engine starts and stops.
set -eu
build=${1:-build}
echo "demo: the qxdb tool arrives with the data-file subcommands; nothing to show yet."
