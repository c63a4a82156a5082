"""Compares runs of quorvane_bench against two builds of SEAL.

    python seal_alloc.py BEFORE.json AFTER.json [--skip N]

Each file holds the --json output of several runs, one after the other (run i
of one file is paired with run i of the other). --skip drops the first N runs
of each (warm-up). Prints, per operation and slot count, the median over the
runs of each run's median milliseconds, SEAL called directly and CTile, before
and after, and the median of the paired ratios after/before.
"""

import argparse
import json
import statistics


def read_runs(path):
    """The runs in the file: a list of {(op, slots): (seal_ms, tile_ms)}."""
    with open(path) as f:
        text = f.read()
    decoder = json.JSONDecoder()
    runs, pos = [], 0
    while True:
        while pos < len(text) and text[pos].isspace():
            pos += 1
        if pos == len(text):
            return runs
        rows, pos = decoder.raw_decode(text, pos)
        runs.append({(r["op"], r["slots"]): (r["seal_ms"], r["tile_ms"]) for r in rows})


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("before")
    parser.add_argument("after")
    parser.add_argument("--skip", type=int, default=0, help="warm-up runs to drop from each file")
    args = parser.parse_args()
    before = read_runs(args.before)[args.skip:]
    after = read_runs(args.after)[args.skip:]
    pairs = list(zip(before, after))
    if not pairs:
        raise SystemExit("no runs to compare")
    print("%d paired runs; medians in ms, ratio = median of after/before per pair" % len(pairs))
    print("%-24s %6s | %10s %10s %7s | %10s %10s %7s" % (
        "operation", "slots", "SEAL bef", "SEAL aft", "ratio", "CTile bef", "CTile aft", "ratio"))
    for key in before[0]:
        cells = []
        for which in (0, 1):
            b = [run[key][which] for run, _ in pairs]
            a = [run[key][which] for _, run in pairs]
            ratio = statistics.median(y / x for x, y in zip(b, a))
            cells += [statistics.median(b), statistics.median(a), ratio]
        print("%-24s %6d | %10.3f %10.3f %7.3f | %10.3f %10.3f %7.3f" % (key + tuple(cells)))


if __name__ == "__main__":
    main()
