#!/usr/bin/env bash
# Installs what `make fuzz` needs when it is missing and we are root:
# Debian's clang 14 and its runtime libraries (libFuzzer, the sanitizers).
# Not being root or having no package index is not an error here: the
# configure step says so when clang++-14 is absent.
set -u
pkgs=(clang-14 libclang-rt-14-dev)
bash "$(dirname "$0")/install-packages.sh" install-fuzz-tools "${pkgs[@]}"
