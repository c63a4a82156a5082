"""The command line shared by the benchmarks that compare two builds of the
module in one session: run alone, a benchmark prints its own medians; with
--compare it runs itself under two interpreters in turn, A B A B ..., each run
a fresh process that prints its medians as JSON, and prints per case the
median over the rounds of each build's medians and the median of the
per-round ratios A/B."""

import argparse
import json
import statistics
import subprocess
import sys


def compare(script, python_a, python_b, rounds, reps):
    runs = {"A": [], "B": []}
    for r in range(rounds):
        for label, python in (("A", python_a), ("B", python_b)):
            out = subprocess.run([python, script, "--json", "--reps", str(reps)],
                                 check=True, capture_output=True, text=True)
            runs[label].append(json.loads(out.stdout))
        print("round %d of %d done" % (r + 1, rounds), file=sys.stderr)
    print("%-34s %12s %12s %8s" % ("case", "A median", "B median", "A/B"))
    for name in runs["A"][0]:
        unit = runs["A"][0][name][1]
        a = [run[name][0] for run in runs["A"]]
        b = [run[name][0] for run in runs["B"]]
        ratio = statistics.median(x / y for x, y in zip(a, b))
        print("%-34s %9.3f %-2s %9.3f %-2s %8.3f" % (name, statistics.median(a), unit,
                                                    statistics.median(b), unit, ratio))


def main(script, description, measure, rounds=7, reps=21):
    """measure(reps) gives the medians of one build: case name -> (value, unit)."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--compare", nargs=2, metavar=("PYTHON_A", "PYTHON_B"))
    parser.add_argument("--rounds", type=int, default=rounds)
    parser.add_argument("--reps", type=int, default=reps)
    parser.add_argument("--json", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.compare:
        compare(script, args.compare[0], args.compare[1], args.rounds, args.reps)
        return
    res = measure(args.reps)
    if args.json:
        print(json.dumps(res))
        return
    for name, (value, unit) in res.items():
        print("%-34s %9.3f %s" % (name, value, unit))
