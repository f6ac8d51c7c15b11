#!/usr/bin/env python3
"""Checks the Python module on folders of MPS/QPS problems.

    PYTHONPATH=build/python python3 bench/python-check.py [--lp FOLDER] [--qp FOLDER]
        [--max-nnz N] [--timlim SEC] [--csv FILE]

--lp: each .mps file is read with orva.read_mps, turned into scipy.optimize.linprog's arrays
(A_ub, b_ub, A_eq, b_eq, bounds; matrices as scipy.sparse) and solved by orva.solve_lp and by
linprog(method="highs"); it agrees when the objectives are within 1e-6 relative (to max(1,|f|)).
--qp: each .qps/.mps file is read with orva.read_mps, solved by orva.solve_qp on its arrays
(P, q, A, l, u, lb, ub; the objective constant added) and compared with the folder's MANIFEST.csv (optimal_objective) to 1e-6 relative.  Problems with more than N nonzeros
(manifest) are skipped.  One line per problem, then "lp: agree K of N" / "qp: solved K of N".
--csv writes problem,solver,status,objective,seconds rows (bench/profile.py reads them).
"""
import argparse
import csv
import glob
import os
import sys
import time

import numpy as np
import scipy.sparse as sp
from scipy.optimize import linprog

import orva


def manifest(folder):
    path = os.path.join(folder, "MANIFEST.csv")
    if not os.path.exists(path):
        return {}
    with open(path) as f:
        return {row["name"]: row for row in csv.DictReader(f)}


def relerr(a, b):
    return abs(a - b) / max(1.0, abs(b))


def linprog_arrays(p):
    """linprog's arguments for a Problem: equations, then <= rows from each finite side."""
    eq = p.l == p.u
    lower, upper = ~eq & np.isfinite(p.l), ~eq & np.isfinite(p.u)
    A_ub = sp.vstack([-p.A[lower], p.A[upper]], format="csc")
    b_ub = np.concatenate([-p.l[lower], p.u[upper]])
    bounds = [(None if lo == -np.inf else lo, None if hi == np.inf else hi) for lo, hi in zip(p.lb, p.ub)]
    sign = -1.0 if p.maximize else 1.0
    return sign * p.q, A_ub, b_ub, p.A[eq], p.l[eq], bounds


def problems(folder, exts, man, max_nnz):
    files = sorted(f for e in exts for f in glob.glob(os.path.join(folder, "*." + e)))
    for f in files:
        name = os.path.splitext(os.path.basename(f))[0]
        nnz = int(man.get(name, {}).get("nonzeros") or 0)
        yield name, f, max_nnz and nnz > max_nnz


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--lp")
    ap.add_argument("--qp")
    ap.add_argument("--max-nnz", type=int, default=0)
    ap.add_argument("--timlim", type=float, default=600.0)
    ap.add_argument("--csv")
    args = ap.parse_args()
    rows = []
    failed = False
    if args.lp:
        man = manifest(args.lp)
        agree = total = skipped = 0
        print(f"{'problem':<12} {'orva':<24} {'objective':>22} {'highs':>22} {'relerr':>8} {'s orva':>7} {'s highs':>7}")
        for name, f, skip in problems(args.lp, ["mps"], man, args.max_nnz):
            if skip:
                skipped += 1
                continue
            total += 1
            p = orva.read_mps(f)
            c, A_ub, b_ub, A_eq, b_eq, bounds = linprog_arrays(p)
            t = time.perf_counter()
            ref = linprog(c, A_ub, b_ub, A_eq, b_eq, bounds, method="highs", options={"time_limit": args.timlim})
            th = time.perf_counter() - t
            r = orva.solve_lp(c, A_ub, b_ub, A_eq, b_eq, bounds, timlim=args.timlim)
            e = relerr(r.fun, ref.fun) if ref.status == 0 else float("nan")
            ok = r.success and ref.status == 0 and e <= 1e-6
            agree += ok
            print(f"{name:<12} {r.status.name:<24.24} {r.fun:22.12e} {ref.fun if ref.status == 0 else float('nan'):22.12e} "
                  f"{e:8.1e} {r.seconds:7.2f} {th:7.2f}{'' if ok else '  <--'}", flush=True)
            rows += [(name, "orva-python", "optimal" if r.success else r.status.name.lower(), r.fun, r.seconds),
                     (name, "scipy-highs", "optimal" if ref.status == 0 else "status%d" % ref.status, ref.fun, th)]
        print(f"lp: agree {agree} of {total} ({skipped} skipped)")
        failed |= agree < total
    if args.qp:
        man = manifest(args.qp)
        solved = total = skipped = 0
        print(f"{'problem':<12} {'orva':<24} {'objective':>22} {'manifest':>16} {'relerr':>8} {'iter':>5} {'s orva':>7}")
        for name, f, skip in problems(args.qp, ["qps", "mps"], man, args.max_nnz):
            if skip:
                skipped += 1
                continue
            total += 1
            p = orva.read_mps(f)
            sign = -1.0 if p.maximize else 1.0
            r = orva.solve_qp(sign * p.P, sign * p.q, p.A, p.l, p.u, p.lb, p.ub, timlim=args.timlim)
            r.primal_objective = sign * r.primal_objective + p.offset
            opt = man.get(name, {}).get("optimal_objective")
            e = relerr(r.primal_objective, float(opt)) if opt else float("nan")
            ok = r.success and (not opt or e <= 1e-6)
            solved += ok
            print(f"{name:<12} {r.status.name:<24.24} {r.primal_objective:22.12e} {opt or '-':>16} {e:8.1e} "
                  f"{r.iterations:5d} {r.seconds:7.2f}{'' if ok else '  <--'}", flush=True)
            rows.append((name, "orva-python", "optimal" if r.success else r.status.name.lower(),
                         r.primal_objective, r.seconds))
        print(f"qp: solved {solved} of {total} ({skipped} skipped)")
        failed |= solved < total
    if args.csv:
        with open(args.csv, "w", newline="") as f:
            w = csv.writer(f)
            w.writerow(["problem", "solver", "status", "objective", "seconds"])
            w.writerows(rows)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
