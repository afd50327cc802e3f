#!/usr/bin/env bash
# Installs what the Windows cross build and its test run need, when missing
# and we are root: the mingw-w64 x86-64 compiler (posix thread model), its
# tools, Wine to run the programs, and GoogleTest's sources. Not being root
# is not an error here: the build then fails with the missing tool's name.
set -u
pkgs=(g++-mingw-w64-x86-64-posix mingw-w64-tools wine64 wine googletest)
bash "$(dirname "$0")/install-packages.sh" install-windows-tools --no-recommends "${pkgs[@]}"
