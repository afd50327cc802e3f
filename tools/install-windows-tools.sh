#!/usr/bin/env bash
# Installs what the Windows cross build and its test run need, when missing
# and we are root: the mingw-w64 x86-64 compiler (posix thread model), its
# tools, Wine to run the programs, and GoogleTest's sources. Not being root
# is not an error here: the build then fails with the missing tool's name.
set -u
pkgs=(g++-mingw-w64-x86-64-posix mingw-w64-tools wine64 wine googletest)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-windows-tools: not root; missing: ${missing[*]}" >&2
  else
    echo "install-windows-tools: installing ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq >/dev/null 2>&1 || true
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null 2>&1 ||
      echo "install-windows-tools: could not install ${missing[*]}" >&2
  fi
fi
exit 0
