#!/usr/bin/env bash
# Installs what `make fuzz` needs when it is missing and we are root:
# Debian's clang 14 and its runtime libraries (libFuzzer, the sanitizers).
# Not being root or having no package index is not an error here: the
# configure step says so when clang++-14 is absent.
set -u
pkgs=(clang-14 libclang-rt-14-dev)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-fuzz-tools: not root; missing: ${missing[*]}" >&2
  else
    echo "install-fuzz-tools: installing ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq >/dev/null 2>&1 || true
    apt-get install -y -qq "${missing[@]}" >/dev/null 2>&1 ||
      echo "install-fuzz-tools: could not install ${missing[*]}" >&2
  fi
fi
exit 0
