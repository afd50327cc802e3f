#!/usr/bin/env bash
# Runs the Windows build's test suite under Wine, then checks that the
# Windows and Linux builds write the same bytes for the same operations.
# Wine gets a private prefix under the build tree, so each run starts from
# the same clean Windows directory (the prefix is made on first use), and
# its own diagnostics are off. The Windows run has no Linux peer: the tests
# that need one skip, so QX_REQUIRE_HARBOUR does not apply to it.
#
# usage: windows-test.sh WIN-BUILD-DIR LINUX-BUILD-DIR JOBS
set -uo pipefail
win_build=$(cd "$1" && pwd)
linux_build=$(cd "$2" && pwd)
jobs=${3:-2}
root=$(cd "$(dirname "$0")/.." && pwd)

export WINEPREFIX="$win_build/wineprefix"
export WINEDEBUG=-all
unset QX_REQUIRE_HARBOUR
start=$(date +%s)
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "windows-test: making the Wine prefix $WINEPREFIX"
  wineboot --init > /dev/null 2>&1 || wine wineboot --init > /dev/null 2>&1
  wineserver -w 2>/dev/null || true
fi
# One wineserver for the whole run, and Wine's own services started now
# with no output of ours: services a test started would keep that test's
# output pipe open, and ctest would wait for it.
wineserver -p 2>/dev/null || true
wine cmd /c exit < /dev/null > /dev/null 2>&1 || true

status=0
(cd "$win_build" && ctest --output-on-failure -j "$jobs") || status=1

# Byte identity: the same operations through both builds' qxdb.
samples="$win_build/samples"
rm -rf "$samples"
bash "$root/tools/write-sample-tables.sh" "$samples/linux" \
  "$linux_build/host/qxdb/qxdb" || status=1
bash "$root/tools/write-sample-tables.sh" "$samples/windows" \
  wine "$win_build/host/qxdb/qxdb.exe" || status=1
bash "$root/tools/compare-sample-tables.sh" "$samples/linux" \
  "$samples/windows" || status=1

wineserver -k 2>/dev/null || true
echo "windows-test: $(( $(date +%s) - start )) s"
exit $status
