#!/usr/bin/env python3
"""Checks that no source file includes across a boundary it must not cross.

The layers, bottom up: the platform layer (the only code that sees the
operating system), the engine, the access layer (which reaches the engine
through its adapter), the framework and the component; the reference host
sits outside and sees only the public headers and the adapter. Inside the
engine every module names the modules it may use, so that the tree code
stays free of data files and no format module leans on another.

Prints one line per crossing and exits 1 when there is any; exits 0 and
prints nothing otherwise. Run from anywhere: it checks the files git tracks
in the repository that holds it.
"""
import pathlib
import re
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent

# Headers of the operating system (POSIX or Win32), never the C or C++
# standard libraries.
OS_HEADER = re.compile(
    r"^(windows|winbase|winnt|winsock2|ws2tcpip|io|direct|process|shlobj|"
    r"objbase|shellapi|unistd|fcntl|pthread|dlfcn|dirent|termios|poll|spawn|"
    r"libgen|pwd|grp|link|elf|sched|semaphore|syslog|utime)\.h$|"
    r"^(sys|netinet|arpa|linux|mach)/")
# Where operating-system headers may appear: the platform layer, the test
# support that starts processes, and the platform's own backend tests.
OS_ALLOWED = ("platform/", "tests/support/", "tests/platform/")

# The engine modules each engine module may include (besides itself).
# Shared modules: core, fileio, dates, collate, expr; btree is tree code
# only; index is what every index format needs from data files and
# expressions; fox is the tree IDX files and CDX tags share. The formats
# (dbf, memo, ndx, mdx, ntx, idx, cdx) never include one another.
INDEX_FORMAT = {"btree", "core", "fileio", "dates", "collate", "expr",
                "index"}
ENGINE_DEPS = {
    "core": {"fileio", "dates", "collate"},
    "fileio": {"core"},
    "dates": {"core"},
    "collate": {"core"},
    "expr": {"core", "fileio", "dates", "collate"},
    "dbf": {"core", "fileio", "dates"},
    "memo": {"core", "fileio"},
    "btree": {"core", "fileio"},
    "index": {"btree", "core", "fileio", "dates", "expr", "dbf"},
    "fox": {"btree", "core", "fileio", "dates", "collate", "expr", "index"},
    "ndx": INDEX_FORMAT,
    "mdx": INDEX_FORMAT,
    "ntx": INDEX_FORMAT,
    "idx": INDEX_FORMAT | {"fox"},
    "cdx": INDEX_FORMAT | {"fox"},
}

# Engine headers any layer may use: the byte codecs.
ENGINE_SHARED = {"engine/core/coding.h"}
# Who may include engine internals: the engine, the access layer's adapter,
# the tests and the benchmarks.
ENGINE_CLIENTS = ("engine/", "access/adapter/", "tests/", "bench/")

# The platform layer's insides: its backends and internal header. The
# fault-injection switch is for tests.
PLATFORM_INTERNAL = re.compile(r"^platform/(posix/|win/|platform_internal\.h)")
PLATFORM_INTERNAL_CLIENTS = ("platform/", "tests/platform/")
PLATFORM_FAULTS = "platform/fault_injection.h"
PLATFORM_FAULTS_CLIENTS = ("platform/", "tests/")

# What the reference host may include: the public headers, the adapter,
# its own files, the byte codecs and the platform layer's interface (it is
# a program that needs files and module loading but may not see the
# operating system).
HOST_ALLOWED = ("qx/", "access/adapter/", "host/", "platform/platform.h",
                "engine/core/coding.h")

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def tracked_sources():
    out = subprocess.run(["git", "-C", str(ROOT), "ls-files", "*.h", "*.cc"],
                         check=True, capture_output=True, text=True).stdout
    return [line for line in out.splitlines() if line]


def crossings(path, target, system):
    """Yields the rules that including `target` from `path` breaks."""
    if system:
        if OS_HEADER.search(target) and not path.startswith(OS_ALLOWED):
            yield "operating-system header outside the platform layer"
        return
    if path.startswith("host/") and not target.startswith(HOST_ALLOWED):
        yield "the host sees only include/qx, the adapter, coding.h and platform.h"
    if target.startswith("engine/") and target not in ENGINE_SHARED:
        if not path.startswith(ENGINE_CLIENTS):
            yield "engine internals outside the engine and its adapter"
        elif path.startswith("engine/"):
            source, used = path.split("/")[1], target.split("/")[1]
            if used != source and used not in ENGINE_DEPS.get(source, set()):
                yield f"engine module {source} may not use {used}"
    if PLATFORM_INTERNAL.search(target) and not path.startswith(
            PLATFORM_INTERNAL_CLIENTS):
        yield "platform internals outside the platform layer"
    if target == PLATFORM_FAULTS and not path.startswith(
            PLATFORM_FAULTS_CLIENTS):
        yield "fault injection outside the platform layer and tests"
    if path.startswith(("engine/", "platform/", "resources/")) and \
            target.startswith(("access/", "framework/", "component/",
                               "host/")):
        yield "a lower layer includes a higher one"


def main():
    failures = 0
    for path in tracked_sources():
        text = (ROOT / path).read_text(encoding="utf-8", errors="replace")
        for number, line in enumerate(text.splitlines(), 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            for why in crossings(path, m.group(2), m.group(1) == "<"):
                print(f"{path}:{number}: {m.group(2)}: {why}")
                failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
