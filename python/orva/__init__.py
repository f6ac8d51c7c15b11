"""orva: linear and convex quadratic programming by a primal-dual interior-point method.

    solve_lp(c, A_ub, b_ub, A_eq, b_eq, bounds, **options)   scipy.optimize.linprog's form
    solve_qp(P, q, A, l, u, lb, ub, **options)               min 1/2 x'Px + q'x, l <= Ax <= u, lb <= x <= ub
    read_mps(path) -> Problem;  solve(problem, **options)     MPS and QPS files

Matrices may be dense arrays or scipy.sparse matrices.  Options are the solver's keywords
(iterlim, sigfig, inftol, verbose, presolve, ...; see OPTIONS); an unknown one raises
ValueError.  Every call returns a Result.  Bad arguments raise ValueError or TypeError, a data
error the library finds raises OrvaError (a ValueError) with the library's message.  The
iteration log goes to sys.stdout when verbose is 1 or more (default 0: no output).  Ctrl-C
during a solve raises KeyboardInterrupt; the GIL is released while the solver runs.

Dual values are marginals, as in scipy.optimize.linprog: the change of the minimised objective
per unit increase of a side or a bound.  A row's dual is >= 0 when its lower side holds it and
<= 0 at its upper side; zl >= 0 and zu <= 0 are those of the lower and upper bounds.  They satisfy
    P x + q = A' y + zl + zu        (for maximize=True: -(P x + q) = A' y + zl + zu).
"""

import enum
import numbers
import os
import warnings

import numpy as np

from . import _core

__all__ = ["solve_lp", "solve_qp", "read_mps", "solve", "Problem", "Result", "Status", "OrvaError",
           "OrvaWarning", "OPTIONS"]

#: Raised for a data error the library finds (a negative range, an MPS file it cannot read);
#: ``code`` is its error code.  A subclass of ValueError.
OrvaError = _core.Error

#: The option keywords that solves take.
OPTIONS = tuple(_core.option_names())

_INF = float("inf")


class OrvaWarning(UserWarning):
    """What the MPS reader reported about lines it skipped."""


class Status(enum.IntEnum):
    """Result codes of the solver (the name, and the code as an int)."""
    OPTIMAL = 0
    SUBOPTIMAL = 1
    ITERATION_LIMIT = 2
    PRIMAL_INFEASIBLE = 3
    DUAL_INFEASIBLE = 4
    PRIMAL_OR_DUAL_INFEASIBLE = 5
    INCONSISTENT = 6  # also a solve stopped by Ctrl-C when Python ignores SIGINT
    PRIMAL_UNBOUNDED = 7
    DUAL_UNBOUNDED = 8
    TIME_LIMIT = 9
    NOT_IMPROVED = 10
    PRIMAL_INFEASIBLE_OR_BAD_START = 11
    PRIMAL_UNBOUNDED_DUAL_INFEASIBLE = 12
    DUAL_UNBOUNDED_PRIMAL_INFEASIBLE = 13
    PRIMAL_AND_DUAL_UNBOUNDED = 14


class Result:
    """The outcome of a solve.

    status      Status (``status.name``, ``int(status)``); ``success`` is status == OPTIMAL
    message     the solver's message, such as "OPTIMAL SOLUTION FOUND"
    x           the point
    y           row duals (marginals, see the module's text); for solve_lp the rows of A_ub
                first (linprog's ``ineqlin.marginals``, <= 0), then those of A_eq
                (``eqlin.marginals``)
    zl, zu      bound duals: lower (>= 0, linprog's ``lower.marginals``) and upper (<= 0,
                ``upper.marginals``)
    primal_objective, dual_objective, iterations, seconds (wall clock)
    When presolve decides the problem is infeasible or unbounded there is no point: x, the
    duals and the objectives are NaN and iterations is 0.
    """

    def __init__(self, d, y):
        self.status = Status(d["status"])
        self.message = d["message"]
        self.x = d["x"]
        self.y = y
        self.zl = d["zl"]
        self.zu = d["zu"]
        self.primal_objective = d["primal_objective"]
        self.dual_objective = d["dual_objective"]
        self.iterations = d["iterations"]
        self.seconds = d["seconds"]

    @property
    def success(self):
        return self.status == Status.OPTIMAL

    @property
    def fun(self):
        """The primal objective (linprog's name)."""
        return self.primal_objective

    def __repr__(self):
        return (f"Result(status={self.status.name}, primal_objective={self.primal_objective!r}, "
                f"iterations={self.iterations}, seconds={self.seconds:.3g})")


class Problem:
    """A problem as read from an MPS file: min (or max) offset + q'x + 1/2 x'Px subject to
    l <= A x <= u and lb <= x <= ub, with P and A as scipy.sparse CSC matrices.  The reader
    keeps "L" rows negated into ">=" form (their duals belong to the negated row)."""

    def __init__(self, d):
        import scipy.sparse as sp
        n, m = d["n"], d["m"]
        self.name = d["name"]
        self.q = d["c"]
        self.A = sp.csc_matrix((d["A"], d["iA"], d["kA"]), shape=(m, n))
        self.P = sp.csc_matrix((d["Q"], d["iQ"], d["kQ"]), shape=(n, n))
        self.l, self.u = d["l"], d["u"]
        self.lb, self.ub = d["lb"], d["ub"]
        self.offset = d["f"]
        self.maximize = d["sense"] < 0
        self.row_names = d["row_names"]
        self.col_names = d["col_names"]

    @property
    def shape(self):
        return self.A.shape

    def __repr__(self):
        m, n = self.A.shape
        return f"Problem({self.name!r}, rows={m}, columns={n}, A nonzeros={self.A.nnz}, P nonzeros={self.P.nnz})"


# ---- argument checks and conversions ----------------------------------------------------

def _length(v, name):
    """The length of a one-dimensional array: the number of variables."""
    if v is None or np.ndim(v) != 1:
        raise ValueError(f"{name} must be a one-dimensional array")
    return np.shape(v)[0]


def _vector(v, n, name, default=None, allow=()):
    """A float64 vector of length n (a scalar is repeated); None gives `default`.  NaN is
    refused, and so are the infinities not in `allow` ("+", "-")."""
    if v is None:
        if default is None:
            raise ValueError(f"{name} is required")
        return np.full(n, default, dtype=np.float64)
    try:
        a = np.asarray(v, dtype=np.float64)
    except (TypeError, ValueError) as e:
        raise TypeError(f"{name} must be an array of numbers ({e})") from None
    if a.ndim == 0:
        a = np.full(n, float(a))
    if a.ndim != 1 or a.shape[0] != n:
        raise ValueError(f"{name} has shape {a.shape}, expected ({n},)")
    if np.isnan(a).any():
        raise ValueError(f"{name}[{int(np.flatnonzero(np.isnan(a))[0])}] is not a number")
    for sign, bad in (("+", a == _INF), ("-", a == -_INF)):
        if sign not in allow and bad.any():
            raise ValueError(f"{name}[{int(np.flatnonzero(bad)[0])}] is {sign}inf")
    return np.ascontiguousarray(a)


def _matrix(M, rows, cols, name):
    """A scipy.sparse CSC copy of a dense or sparse matrix, shape (rows, cols), duplicates
    summed, explicit zeros dropped, every value finite.  rows None: any number of rows."""
    import scipy.sparse as sp
    if sp.issparse(M):
        M = sp.csc_matrix(M, dtype=np.float64, copy=True)
    else:
        try:
            a = np.asarray(M, dtype=np.float64)
        except (TypeError, ValueError) as e:
            raise TypeError(f"{name} must be a matrix of numbers ({e})") from None
        if a.ndim != 2:
            raise ValueError(f"{name} must be two-dimensional, not of shape {a.shape}")
        M = sp.csc_matrix(a)
    if M.shape[1] != cols or (rows is not None and M.shape[0] != rows):
        want = f"({'m' if rows is None else rows}, {cols})"
        raise ValueError(f"{name} has shape {M.shape}, expected {want}")
    M.sum_duplicates()
    M.eliminate_zeros()
    if not np.isfinite(M.data).all():
        raise ValueError(f"{name} holds a value that is not a finite number")
    if M.nnz > 2**31 - 1:
        raise ValueError(f"{name} has too many nonzeros")
    M.sort_indices()
    return M


def _bounds(bounds, n):
    """linprog's bounds: None (0 <= x), one (lo, hi) pair for every variable, or n pairs;
    None in a pair is an infinite bound."""
    if bounds is None:
        return np.zeros(n), np.full(n, _INF)
    if hasattr(bounds, "lb") and hasattr(bounds, "ub"):  # scipy.optimize.Bounds
        return (_vector(bounds.lb, n, "bounds.lb", allow="-"), _vector(bounds.ub, n, "bounds.ub", allow="+"))

    def scalar(v):
        return v is None or isinstance(v, numbers.Real)

    pairs = list(bounds) if not isinstance(bounds, np.ndarray) else bounds.tolist()
    if len(pairs) == 2 and all(scalar(v) for v in pairs):
        pairs = [pairs] * n
    elif len(pairs) == 1:
        pairs = pairs * n
    if len(pairs) != n:
        raise ValueError(f"bounds has {len(pairs)} pairs for {n} variables")
    lb, ub = np.empty(n), np.empty(n)
    for j, pair in enumerate(pairs):
        if isinstance(pair, (str, bytes)) or not hasattr(pair, "__len__") or len(pair) != 2 \
                or not all(scalar(v) for v in pair):
            raise ValueError(f"bounds[{j}] must be a pair (lower, upper) of numbers or None")
        lb[j] = -_INF if pair[0] is None else pair[0]
        ub[j] = _INF if pair[1] is None else pair[1]
    return _vector(lb, n, "lower bound", allow="-"), _vector(ub, n, "upper bound", allow="+")


def _check_bounds(lb, ub):
    bad = lb > ub
    if bad.any():
        j = int(np.flatnonzero(bad)[0])
        raise ValueError(f"lower bound {lb[j]} above upper bound {ub[j]} for variable {j}")


def _solve(P, q, A, l, u, lb, ub, offset, sense, options):
    """Rows l <= A x <= u go to the solver as b <= A x <= b + r: a row with only an upper
    side is negated (its dual negated back), one without sides is free."""
    n = q.shape[0]
    sign = np.where(np.isinf(l) & np.isfinite(u), -1.0, 1.0)
    b = np.where(sign < 0, -u, l)
    r = np.where(sign < 0, _INF, np.where(np.isinf(u), _INF, u - l))
    if (sign < 0).any():
        A = A.copy()
        A.data *= sign[A.indices]
    d = _core.solve(A.shape[0], n, q, A.data, A.indices.astype(np.int32), A.indptr.astype(np.int32), b, r,
                    P.data, P.indices.astype(np.int32), P.indptr.astype(np.int32), lb, ub, float(offset),
                    int(sense), options)
    return Result(d, sign * d["y"])


# ---- the calls --------------------------------------------------------------------------

def solve_lp(c, A_ub=None, b_ub=None, A_eq=None, b_eq=None, bounds=None, **options):
    """Minimise c'x subject to A_ub x <= b_ub, A_eq x == b_eq and the bounds, with the
    arguments of scipy.optimize.linprog: matrices dense or scipy.sparse; bounds None
    (x >= 0, linprog's default), one (lower, upper) pair for all variables or one per
    variable, None for an infinite bound.  Options: the solver's keywords (see OPTIONS).

    Returns a Result.  Its duals follow linprog's marginals: y[:len(b_ub)] are
    ``res.ineqlin.marginals`` (<= 0), y[len(b_ub):] ``res.eqlin.marginals``, zl
    ``res.lower.marginals`` (>= 0), zu ``res.upper.marginals`` (<= 0), and
    c = A_ub' y_ub + A_eq' y_eq + zl + zu.
    """
    c = _vector(c, _length(c, "c"), "c")
    n = c.shape[0]
    blocks, lows, ups = [], [], []
    for A, rhs, name, eq in ((A_ub, b_ub, "A_ub", False), (A_eq, b_eq, "A_eq", True)):
        rname = "b_eq" if eq else "b_ub"
        if A is None and rhs is None:
            continue
        if A is None or rhs is None:
            raise ValueError(f"{name} and {rname} go together")
        A = _matrix(A, None, n, name)
        rhs = _vector(rhs, A.shape[0], rname, allow="" if eq else "+")
        blocks.append(A)
        lows.append(rhs if eq else np.full(A.shape[0], -_INF))
        ups.append(rhs)
    import scipy.sparse as sp
    A = sp.vstack(blocks, format="csc") if blocks else sp.csc_matrix((0, n))
    lb, ub = _bounds(bounds, n)
    _check_bounds(lb, ub)
    l = np.concatenate(lows) if lows else np.empty(0)
    u = np.concatenate(ups) if ups else np.empty(0)
    return _solve(sp.csc_matrix((n, n)), c, _matrix(A, A.shape[0], n, "A"), l, u, lb, ub, 0.0, 1, options)


def solve_qp(P, q, A=None, l=None, u=None, lb=None, ub=None, **options):
    """Minimise 1/2 x'Px + q'x subject to l <= A x <= u and lb <= x <= ub (the OSQP/PIQP
    form).  P (n x n, symmetric and positive semidefinite: give the whole matrix, not one
    triangle) may be None for an LP; missing sides and bounds are infinite; a row with
    l == u is an equation.  Options: the solver's keywords (see OPTIONS).

    Returns a Result; y >= 0 where a row's lower side holds it, <= 0 at its upper side
    (the negative of OSQP's y), zl >= 0, zu <= 0, and P x + q = A' y + zl + zu.
    """
    q = _vector(q, _length(q, "q"), "q")
    n = q.shape[0]
    P = _matrix(np.zeros((n, n)) if P is None else P, n, n, "P")
    if P.nnz:
        asym = abs(P - P.T)
        if asym.nnz and asym.max() > 1e-10 * abs(P).max():
            raise ValueError("P is not symmetric: give the whole matrix, not one triangle")
        P = _matrix((P + P.T) * 0.5, n, n, "P")
    if A is None:
        if l is not None or u is not None:
            raise ValueError("l and u need A")
        import scipy.sparse as sp
        A = sp.csc_matrix((0, n))
    A = _matrix(A, None, n, "A")
    m = A.shape[0]
    l = _vector(l, m, "l", default=-_INF, allow="-")
    u = _vector(u, m, "u", default=_INF, allow="+")
    lb = _vector(lb, n, "lb", default=-_INF, allow="-")
    ub = _vector(ub, n, "ub", default=_INF, allow="+")
    _check_bounds(lb, ub)
    return _solve(P, q, A, l, u, lb, ub, 0.0, 1, options)


def read_mps(path):
    """Reads an MPS or QPS file (fixed columns, with QUADS/QUADOBJ for the quadratic part)
    into a Problem.  A file the reader refuses raises OrvaError; lines it skips are reported
    as OrvaWarning."""
    path = os.fspath(path)
    if not isinstance(path, str):
        path = os.fsdecode(path)
    if path == "-":  # a file of that name, not standard input
        path = os.path.join(".", path)
    d = _core.read_mps(path)
    if d["messages"]:
        warnings.warn(f"{path}: {d['messages'].rstrip()}", OrvaWarning, stacklevel=2)
    return Problem(d)


def solve(problem, **options):
    """Solves a Problem (from read_mps, or built with the same fields); its sense holds
    unless the options say min/minimize or max/maximize."""
    if not isinstance(problem, Problem):
        raise TypeError("solve takes a Problem (see read_mps)")
    n = _length(problem.q, "q")
    q = _vector(problem.q, n, "q")
    P = _matrix(problem.P, n, n, "P")
    A = _matrix(problem.A, None, n, "A")
    m = A.shape[0]
    lb = _vector(problem.lb, n, "lb", allow="-")
    ub = _vector(problem.ub, n, "ub", allow="+")
    _check_bounds(lb, ub)
    return _solve(P, q, A, _vector(problem.l, m, "l", allow="-"), _vector(problem.u, m, "u", allow="+"),
                  lb, ub, float(problem.offset), -1 if problem.maximize else 1, options)
