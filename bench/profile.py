#!/usr/bin/env python3
"""Draws a Dolan-More performance profile from benchmark CSV files.

    python3 bench/profile.py [--manifest MANIFEST.csv] [--tol 1e-6] [--title T] -o OUT.png FILE.csv...

Each CSV has the columns problem,solver,status,objective,seconds (bench/mps-all.sh --csv,
bench/nl-all.sh --csv and bench/python-check.py --csv write them).  A run counts as solved when
its status is "optimal" and, with --manifest, its objective is within --tol of the manifest's
optimum relative to max(1, |optimum|) (column optimal_objective or expected_optimum; problems
without one count on the status).  Only problems that every solver ran are compared.  For each
solver the plot shows the fraction of problems it solved within a factor tau of the fastest
solver on that problem, against tau on a log scale; it also prints that table.
"""
import argparse
import csv
import math
import sys


def read_runs(paths):
    runs = {}  # (problem, solver) -> (status, objective, seconds)
    for path in paths:
        with open(path, newline="") as f:
            for row in csv.DictReader(f):
                try:
                    obj = float(row["objective"])
                except (TypeError, ValueError):
                    obj = math.nan
                try:
                    secs = float(row["seconds"])
                except (TypeError, ValueError):
                    secs = math.nan
                runs[(row["problem"], row["solver"])] = (row["status"].strip().lower(), obj, secs)
    return runs


def read_optima(path):
    optima = {}
    with open(path, newline="") as f:
        for row in csv.DictReader(f):
            value = row.get("optimal_objective") or row.get("expected_optimum") or ""
            try:
                optima[row["name"]] = float(value)
            except ValueError:
                pass
    return optima


def solved_times(runs, optima, tol, min_seconds):
    """Per problem (run by every solver) and solver: seconds when solved, else infinity."""
    solvers = sorted({s for _, s in runs})
    problems = sorted({p for p, _ in runs if all((p, s) in runs for s in solvers)})
    times = {}
    for p in problems:
        for s in solvers:
            status, obj, secs = runs[(p, s)]
            ok = status == "optimal" and math.isfinite(secs)
            if ok and p in optima:
                ok = math.isfinite(obj) and abs(obj - optima[p]) <= tol * max(1.0, abs(optima[p]))
            times[(p, s)] = max(secs, min_seconds) if ok else math.inf
    return solvers, problems, times


def profile(solvers, problems, times):
    """Ratios to the best time per problem, sorted, for each solver."""
    ratios = {s: [] for s in solvers}
    for p in problems:
        best = min(times[(p, s)] for s in solvers)
        for s in solvers:
            ratios[s].append(times[(p, s)] / best if math.isfinite(best) else math.inf)
    return {s: sorted(r) for s, r in ratios.items()}


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("csv", nargs="+")
    ap.add_argument("-o", "--output", required=True, help="PNG file to write")
    ap.add_argument("--manifest")
    ap.add_argument("--tol", type=float, default=1e-6)
    ap.add_argument("--min-seconds", type=float, default=1e-3, help="floor of a time (default 0.001)")
    ap.add_argument("--title", default="Performance profile")
    args = ap.parse_args()

    runs = read_runs(args.csv)
    optima = read_optima(args.manifest) if args.manifest else {}
    solvers, problems, times = solved_times(runs, optima, args.tol, args.min_seconds)
    if not problems or len(solvers) < 1:
        print("no problem was run by every solver", file=sys.stderr)
        return 1
    ratios = profile(solvers, problems, times)
    finite = [r for rs in ratios.values() for r in rs if math.isfinite(r)]
    tau_max = max(2.0, max(finite) * 1.5 if finite else 2.0)

    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    n = len(problems)
    fig, ax = plt.subplots(figsize=(7, 4.5), dpi=120)
    print(f"{len(problems)} problems; fraction solved within tau of the best:")
    print(f"{'solver':<16} {'solved':>7} {'tau=1':>7} {'tau=2':>7} {'tau=10':>7}")
    for s in solvers:
        rs = ratios[s]
        xs = [1.0] + [r for r in rs if math.isfinite(r)] + [tau_max]
        ys = [0.0] + [(k + 1) / n for k in range(len(xs) - 2)]
        ys.append(ys[-1])
        solved = len(xs) - 2
        ax.step(xs, ys, where="post", label=f"{s} ({solved}/{n})", linewidth=1.8)
        frac = [sum(r <= t for r in rs) / n for t in (1, 2, 10)]
        print(f"{s:<16} {solved:>7} {frac[0]:7.2f} {frac[1]:7.2f} {frac[2]:7.2f}")
    ax.set_xscale("log", base=2)
    ax.set_xlim(1, tau_max)
    ax.set_ylim(0, 1.02)
    ax.set_xlabel("τ (time relative to the fastest solver on the problem)")
    ax.set_ylabel("fraction of problems solved within τ")
    ax.set_title(f"{args.title} ({n} problems)")
    ax.grid(True, which="both", alpha=0.3)
    ax.legend(loc="lower right")
    fig.tight_layout()
    fig.savefig(args.output)
    print(f"wrote {args.output}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
