#!/usr/bin/env bash
# Installs the Debian packages named after the caller's tag when they are
# missing and we are root; says which are missing otherwise. Never fails:
# whoever needs a package reports its absence in its own words.
#
# usage: install-packages.sh TAG [--no-recommends] PACKAGE...
set -u
tag=$1
shift
extra=()
if [ "${1:-}" = "--no-recommends" ]; then
  extra=(--no-install-recommends)
  shift
fi
missing=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "$tag: not root; missing: ${missing[*]}" >&2
  else
    echo "$tag: installing ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq >/dev/null 2>&1 || true
    apt-get install -y -qq "${extra[@]}" "${missing[@]}" >/dev/null 2>&1 ||
      echo "$tag: could not install ${missing[*]}" >&2
  fi
fi
exit 0
