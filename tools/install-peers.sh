#!/usr/bin/env bash
# Installs the Debian packages the interop tests use as oracles, when they are
# missing and we are root. Not being root, or having no package index, is not
# an error here: the tests that need a peer say so when it is absent.
set -u
pkgs=(libdbd-xbase-perl python3-dbf python3-dbfread libxbase64-dev)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "install-peers: not root; missing test peers: ${missing[*]}" >&2
  exit 0
fi
echo "install-peers: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq >/dev/null 2>&1 || true
apt-get install -y -qq "${missing[@]}" >/dev/null 2>&1 ||
  echo "install-peers: could not install ${missing[*]}" >&2
exit 0
