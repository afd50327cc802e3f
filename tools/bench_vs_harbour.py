#!/usr/bin/env python3
"""Our benchmarks and Harbour's hbbench side by side, alternating.

usage: bench_vs_harbour.py BUILD_DIR HBBENCH [ROUNDS]

Each round runs, for NTX and CDX, exclusive and then shared, our benchmark
program once (QX_BENCH_RUNS=1) and hbbench once (RUNS 1) on the same rows;
which goes first alternates from round to round, so both see the same
machine. This machine's speed moves by tens of percent from minute to
minute: a ratio is taken per round, from runs seconds apart, and the median
over the rounds is printed with the lowest and highest. Ratio = our items
per second / Harbour's: above 1 we are faster.

Prints one JSON object per figure, then a table.
"""

import json
import os
import re
import statistics
import subprocess
import sys
import tempfile

# The index figures compared: our key, hbbench's figure for NTX and for
# CDX, and the modes. hbbench's shared runs time seeks, the scan and
# appends only. Our CDX program builds over 1M records and looks up in a
# 60k table with LEFT(NAME,8) and SALARY tags: hbbench's CDX60K run is its
# match.
BOTH = ("exclusive", "shared")
EXCLUSIVE = ("exclusive",)
INDEX_FIGURES = [
    ("scan_key_order", "scan_key_order", "scan_name8_60k", BOTH),
    ("seek_name", "seek_name", "seek_name8_60k", BOTH),
    ("seek_salary", "seek_salary", "seek_salary_60k", BOTH),
    ("append_two_indexes", "append_two_indexes",
     "append_two_tags_from_empty_60k", BOTH),
    ("build_char_name", "build_name", "build_name", EXCLUSIVE),
    ("build_numeric_salary", "build_salary", "build_salary", EXCLUSIVE),
    ("build_date_birth", "build_birth", "build_birth", EXCLUSIVE),
]

# Per family: hbbench's argument lists per mode (run in turn in one
# directory; "shared" is added in shared mode) and the figures compared:
# (our program, its key, hbbench's figure, modes).
FAMILIES = [
    ("ntx", {"exclusive": [["DBFNTX", "1000000", "1"]],
             "shared": [["DBFNTX", "1000000", "1"]]},
     [("qx_bench_ntx", ours, ntx, modes)
      for ours, ntx, _, modes in INDEX_FIGURES] +
     [("qx_bench_dbf", "append_unflushed_1m", "append_no_index", EXCLUSIVE)]),
    ("cdx", {"exclusive": [["DBFCDX", "1000000", "1"], ["CDX60K", "1"]],
             "shared": [["CDX60K", "1"]]},
     [("qx_bench_cdx", ours, cdx, modes)
      for ours, _, cdx, modes in INDEX_FIGURES]),
]


def our_rates(program, shared):
    """Runs one of our benchmark programs once per figure: {key: per_s}."""
    env = dict(os.environ, QX_BENCH_RUNS="1")
    env.pop("QX_BENCH_SHARED", None)
    if shared:
        env["QX_BENCH_SHARED"] = "1"
    out = subprocess.run([program], env=env, check=True, capture_output=True,
                         text=True).stdout
    rates = {}
    for key, value in json.loads(out).items():
        if not isinstance(value, dict):
            continue
        for name, rate in value.items():
            if re.fullmatch(r"best_\w+_per_s", name):
                rates[key] = float(rate)
    return rates


def harbour_rates(hbbench, directory, arguments, shared):
    """Runs hbbench once per argument list in directory: {figure: per_s}."""
    rates = {}
    for args in arguments:
        command = [hbbench, directory] + args + (["shared"] if shared else [])
        out = subprocess.run(command, check=True, capture_output=True,
                             text=True).stdout
        for line in out.splitlines():
            if line.startswith("{"):
                figure = json.loads(line)
                rates[figure["figure"]] = float(figure["best_per_s"])
    return rates


def main():
    if len(sys.argv) < 3:
        sys.exit("usage: bench_vs_harbour.py BUILD_DIR HBBENCH [ROUNDS]")
    bench_dir = os.path.join(sys.argv[1], "bench")
    hbbench = os.path.abspath(sys.argv[2])
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    ours, theirs = {}, {}  # (family, mode, our key) -> [per_s per round]
    with tempfile.TemporaryDirectory(prefix="qx_vs_harbour.") as work:
        for r in range(rounds):
            for family, hb_args, figures in FAMILIES:
                hb_dir = os.path.join(work, f"{family}{r}")
                # Exclusive first: Harbour's shared run uses the files its
                # exclusive run left.
                for mode in BOTH:
                    wanted = [f for f in figures if mode in f[3]]
                    if not wanted:
                        continue
                    shared = mode == "shared"
                    programs = sorted({f[0] for f in wanted})

                    def run_ours():
                        rates = {}
                        for program in programs:
                            for key, rate in our_rates(
                                    os.path.join(bench_dir, program),
                                    shared).items():
                                rates[(program, key)] = rate
                        return rates

                    def run_harbour():
                        return harbour_rates(hbbench, hb_dir, hb_args[mode],
                                             shared)

                    # Who goes first alternates from round to round.
                    if r % 2 == 0:
                        mine, peer = run_ours(), run_harbour()
                    else:
                        peer, mine = run_harbour(), run_ours()
                    for program, key, hb_key, _ in wanted:
                        slot = (family, mode, key)
                        ours.setdefault(slot, []).append(mine[(program, key)])
                        theirs.setdefault(slot, []).append(peer[hb_key])
                    print(f"bench_vs_harbour: round {r + 1}/{rounds} "
                          f"{family} {mode} done", file=sys.stderr)
    rows = []
    for (family, mode, key), mine in ours.items():
        peer = theirs[(family, mode, key)]
        ratios = [m / p for m, p in zip(mine, peer)]
        figure = {
            "family": family, "mode": mode, "figure": key,
            "rounds": len(ratios),
            "ours_median_per_s": round(statistics.median(mine)),
            "harbour_median_per_s": round(statistics.median(peer)),
            "ratio_median": round(statistics.median(ratios), 3),
            "ratio_lowest": round(min(ratios), 3),
            "ratio_highest": round(max(ratios), 3),
        }
        print(json.dumps(figure))
        rows.append(figure)
    print(f"\n{'figure':<36} {'ours/s':>10} {'harbour/s':>10} "
          f"{'ratio':>6} {'spread':>13}")
    for f in rows:
        name = f"{f['family']} {f['mode']} {f['figure']}"
        print(f"{name:<36} {f['ours_median_per_s']:>10} "
              f"{f['harbour_median_per_s']:>10} {f['ratio_median']:>6.2f} "
              f"{f['ratio_lowest']:>6.2f}-{f['ratio_highest']:<6.2f}")


if __name__ == "__main__":
    main()
