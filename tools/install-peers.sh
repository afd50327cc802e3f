#!/usr/bin/env bash
# Installs the Debian packages the interop tests use as oracles, when they are
# missing and we are root, and builds the Harbour peer from the source archive
# in ../shared/tools/harbour when it is not built yet. Not being root, having
# no package index or no archive is not an error here: the tests that need a
# peer say so when it is absent.
set -u
pkgs=(libdbd-xbase-perl python3-dbf python3-dbfread libxbase64-dev)
bash "$(dirname "$0")/install-packages.sh" install-peers "${pkgs[@]}"

# Harbour: built once into /opt/harbour (or $HARBOUR_PREFIX); install.sh
# returns at once when that build is there. The tests find it the same way.
harbour_install="$(dirname "$0")/../../shared/tools/harbour/install.sh"
if [ -f "$harbour_install" ]; then
  prefix="${HARBOUR_PREFIX:-/opt/harbour}"
  if [ -w "$(dirname "$prefix")" ] || [ -w "$prefix" ]; then
    bash "$harbour_install" "$prefix" >&2 ||
      echo "install-peers: could not build Harbour" >&2
  else
    echo "install-peers: cannot write $prefix; Harbour not built" >&2
  fi
fi
exit 0
