"""Tests of the Python module orva (run by ctest with the build's python/ on PYTHONPATH)."""
import os
import signal
import subprocess
import sys
import threading

import numpy as np
import pytest
import scipy.sparse as sp

import orva

linprog = pytest.importorskip("scipy.optimize").linprog
DATA = os.environ.get("ORVA_SHARED_DATA", os.path.join(os.path.dirname(__file__), "../../../shared/data"))


def random_lp(seed, m_ub, m_eq, n, sparse=False):
    """A feasible, bounded LP: rows hold at a known interior point, costs keep it bounded."""
    rng = np.random.default_rng(seed)
    x0 = rng.uniform(0.5, 2.0, n)
    A_ub = rng.normal(size=(m_ub, n)) * (rng.random((m_ub, n)) < 0.6)
    A_eq = rng.normal(size=(m_eq, n)) * (rng.random((m_eq, n)) < 0.6)
    b_ub = A_ub @ x0 + rng.uniform(0.1, 1.0, m_ub)
    c = rng.normal(size=n)
    bounds = [(0, 3)] * (n // 2) + [(-5, None)] * (n - n // 2)
    conv = sp.csr_matrix if sparse else np.asarray
    return c, conv(A_ub), b_ub, conv(A_eq), A_eq @ x0, bounds


@pytest.mark.parametrize("seed,m_ub,m_eq,n,sparse", [
    (1, 6, 0, 8, False), (2, 5, 3, 10, True), (3, 0, 4, 7, False), (4, 12, 5, 20, True)])
def test_lp_agrees_with_linprog_duals_included(seed, m_ub, m_eq, n, sparse):
    c, A_ub, b_ub, A_eq, b_eq, bounds = random_lp(seed, m_ub, m_eq, n, sparse)
    args = dict(A_ub=A_ub if m_ub else None, b_ub=b_ub if m_ub else None,
                A_eq=A_eq if m_eq else None, b_eq=b_eq if m_eq else None, bounds=bounds)
    ref = linprog(c, method="highs", **args)
    r = orva.solve_lp(c, **args)
    assert ref.status == 0 and r.success and r.status.name == "OPTIMAL" and int(r.status) == 0
    assert r.fun == pytest.approx(ref.fun, rel=1e-7, abs=1e-7)
    np.testing.assert_allclose(r.x, ref.x, atol=1e-5)
    np.testing.assert_allclose(r.y, np.concatenate([ref.ineqlin.marginals, ref.eqlin.marginals]), atol=1e-5)
    np.testing.assert_allclose(r.zl, ref.lower.marginals, atol=1e-5)
    np.testing.assert_allclose(r.zu, ref.upper.marginals, atol=1e-5)


@pytest.mark.parametrize("name", ["afiro", "sc50a", "blend", "adlittle"])
def test_netlib_lp_as_arrays_agrees_with_linprog(name):
    path = os.path.join(DATA, "lp", name + ".mps")
    if not os.path.exists(path):
        pytest.skip("public test data not present")
    p = orva.read_mps(path)
    eq = p.l == p.u
    lower, upper = ~eq & np.isfinite(p.l), ~eq & np.isfinite(p.u)
    A_ub = sp.vstack([-p.A[lower], p.A[upper]])
    b_ub = np.concatenate([-p.l[lower], p.u[upper]])
    bounds = [(None if lo == -np.inf else lo, None if hi == np.inf else hi) for lo, hi in zip(p.lb, p.ub)]
    ref = linprog(p.q, A_ub, b_ub, p.A[eq], p.l[eq], bounds, method="highs")
    r = orva.solve_lp(p.q, A_ub, b_ub, p.A[eq], p.l[eq], bounds)
    assert r.success and abs(r.fun - ref.fun) <= 1e-6 * max(1.0, abs(ref.fun))
    assert orva.solve(p).primal_objective == pytest.approx(r.fun + p.offset, rel=1e-7)


def test_qp_known_solution_and_duals():
    # OSQP's documented example: x = (0.3, 0.7), objective 1.88; OSQP's y = (-2.9, 0, 0.2).
    P = sp.csc_matrix([[4.0, 1.0], [1.0, 2.0]])
    A = np.array([[1.0, 1.0], [1.0, 0.0], [0.0, 1.0]])
    r = orva.solve_qp(P, [1.0, 1.0], A, [1.0, 0.0, 0.0], [1.0, 0.7, 0.7])
    assert r.success
    np.testing.assert_allclose(r.x, [0.3, 0.7], atol=1e-6)
    assert r.primal_objective == pytest.approx(1.88, rel=1e-7)
    np.testing.assert_allclose(r.y, [2.9, 0.0, -0.2], atol=1e-6)
    # Projection of a onto the simplex {x >= 0, sum x = 1}: x = max(a - t, 0).
    a = np.array([0.9, 0.4, -0.3, 0.6])
    r = orva.solve_qp(np.eye(4), -a, np.ones((1, 4)), [1.0], [1.0], lb=0.0)
    np.testing.assert_allclose(r.x, [0.6, 0.1, 0.0, 0.3], atol=1e-6)
    np.testing.assert_allclose(r.x - a, r.y[0] + r.zl + r.zu, atol=1e-6)  # P x + q = A'y + zl + zu
    assert r.zl[2] > 0.5 and np.all(r.zu == 0)


def test_statuses_and_options():
    assert orva.solve_lp([1, 1], A_ub=[[-1, -1]], b_ub=[-1], iterlim=1, presolve=0).status \
        == orva.Status.ITERATION_LIMIT
    infeasible = orva.solve_lp([1, 1], A_ub=[[1, 1]], b_ub=[-1])
    assert not infeasible.success and infeasible.status in (orva.Status.PRIMAL_INFEASIBLE,
                                                            orva.Status.DUAL_UNBOUNDED)
    assert orva.solve_lp([-1.0], bounds=(0, 2), maximize=True).x[0] == pytest.approx(0, abs=1e-6)


@pytest.mark.parametrize("call,exc,text", [
    (lambda: orva.solve_lp([1, 2], A_ub=[[1, 2, 3]], b_ub=[1]), ValueError, "shape"),
    (lambda: orva.solve_lp([1, np.nan]), ValueError, "not a number"),
    (lambda: orva.solve_lp([1, 1], A_eq=sp.csr_matrix([[1, np.nan]]), b_eq=[1]), ValueError, "finite"),
    (lambda: orva.solve_lp([1, 1], A_ub=[[1, 1]]), ValueError, "go together"),
    (lambda: orva.solve_lp([1, 1], bounds=[(0, 1), (2, 1)]), ValueError, "above upper"),
    (lambda: orva.solve_lp([1, 1], bounds=[(0, 1)] * 3), ValueError, "pairs"),
    (lambda: orva.solve_lp([1], iterlim=5, colour=2), ValueError, "unknown option colour"),
    (lambda: orva.solve_lp([1], iterlim=2.5), TypeError, "integer"),
    (lambda: orva.solve_lp([1], convex=1), TypeError, "flag"),
    (lambda: orva.solve_lp([1], inftol=float("nan")), ValueError, "inftol takes numbers only"),
    (lambda: orva.solve_lp([1], steplen=1.5), ValueError, "steplen takes values above 0 below 1"),
    (lambda: orva.solve_qp([[1, 1], [0, 1]], [0, 0]), ValueError, "symmetric"),
    (lambda: orva.solve_qp(None, [0, 0], [[1, 1]], [2], [1]), orva.OrvaError, "ORVA ERROR(31)"),
    (lambda: orva.read_mps("/nonexistent.mps"), orva.OrvaError, "ORVA ERROR(2): cannot open file"),
    (lambda: orva.solve("afiro"), TypeError, "Problem"),
])
def test_bad_input_raises(call, exc, text):
    with pytest.raises(exc) as info:
        call()
    assert text in str(info.value)


def test_read_mps_matches_orva_mps(tmp_path):
    f = tmp_path / "t.mps"
    def line(name, row, val, row2="", val2=""):  # the fixed columns 5, 15, 25, 40, 50
        return f"    {name:<8}  {row:<8}  {val:>12}   {row2:<8}  {val2:>12}".rstrip() + "\n"

    f.write_text("NAME          T\nROWS\n N  obj\n L  c1\n G  c2\n E  c3\nCOLUMNS\n"
                 + line("x1", "obj", "1.0", "c1", "1.0") + line("x1", "c2", "1.0")
                 + line("x2", "obj", "2.0", "c1", "1.0") + line("x2", "c3", "1.0")
                 + line("x3", "obj", "-1.0", "c2", "1.0") + line("x3", "c3", "1.0")
                 + "RHS\n" + line("rhs", "c1", "4.0", "c2", "1.0") + line("rhs", "c3", "2.0")
                 + "RANGES\n" + line("rng", "c2", "2.0") + "BOUNDS\n UP bnd       x3        1.5\nENDATA\n")
    p = orva.read_mps(f)
    assert (p.name, p.shape, p.row_names, p.col_names) == ("T", (3, 3), ["c1", "c2", "c3"], ["x1", "x2", "x3"])
    r = orva.solve(p)
    prog = os.path.abspath(os.path.join(os.environ.get("ORVA_BIN", "/nonexistent"), "orva-mps"))
    if not os.path.exists(prog):
        pytest.skip("orva-mps not built")
    out = subprocess.run([prog, str(f), "verbose=0"], capture_output=True, text=True).stdout
    assert f"iterations: {r.iterations}\n" in out and f"primal objective: {r.primal_objective:.12e}" in out
    (tmp_path / "bad.mps").write_text("ROWS\n N obj\n")
    with pytest.raises(orva.OrvaError) as info:
        orva.read_mps(tmp_path / "bad.mps")
    assert info.value.code == 11


def test_log_only_when_verbose(capsys):
    orva.solve_lp([1, 1], A_ub=[[-1, -1]], b_ub=[-1])
    assert capsys.readouterr().out == ""
    orva.solve_lp([1, 1], A_ub=[[-1, -1]], b_ub=[-1], verbose=2)
    out = capsys.readouterr().out
    assert "Iter |  Obj Value" in out and out.rstrip().endswith("OPTIMAL SOLUTION FOUND")
    # With sys.stdout on descriptor 1 the log goes there directly, once, in order.
    script = ("import orva; print('before'); "
              "orva.solve_lp([1, 1], A_ub=[[-1, -1]], b_ub=[-1], verbose=1); print('after')")
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True).stdout
    lines = out.splitlines()
    assert lines[0] == "before" and lines[1].startswith("presolve: removed") and lines[-1] == "after"
    assert [w.split()[0] for w in lines[2:-1]] == [str(k) for k in range(1, len(lines) - 2)]


class _InterruptingStdout:
    """A sys.stdout that presses Ctrl-C when the first log line arrives (during the solve)."""

    def __init__(self):
        self.text, self.sent = "", False

    def write(self, s):
        self.text += s
        if not self.sent:
            self.sent = True
            os.kill(os.getpid(), signal.SIGINT)

    def flush(self):
        pass


def test_ctrl_c_raises_keyboard_interrupt(monkeypatch):
    c, A_ub, b_ub, A_eq, b_eq, bounds = random_lp(7, 40, 10, 60)
    out = _InterruptingStdout()
    monkeypatch.setattr("sys.stdout", out)
    with pytest.raises(KeyboardInterrupt):
        orva.solve_lp(c, A_ub, b_ub, A_eq, b_eq, bounds, verbose=1)
    monkeypatch.undo()
    assert out.sent and "Do you want to stop" not in out.text
    assert signal.getsignal(signal.SIGINT) is signal.default_int_handler
    with pytest.raises(KeyboardInterrupt):  # Python's own handler is back
        os.kill(os.getpid(), signal.SIGINT)
        for _ in range(10**6):
            pass
    assert orva.solve_lp(c, A_ub, b_ub, A_eq, b_eq, bounds).success
    # A process that ignores SIGINT goes on ignoring it.
    monkeypatch.setattr("sys.stdout", _InterruptingStdout())
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    try:
        assert orva.solve_lp(c, A_ub, b_ub, A_eq, b_eq, bounds, verbose=1).success
        assert signal.getsignal(signal.SIGINT) == signal.SIG_IGN
    finally:
        signal.signal(signal.SIGINT, signal.default_int_handler)


def test_threads_and_repeated_solves_do_not_leak():
    problems = [random_lp(s, 8, 3, 12, sparse=True) for s in range(4)]
    expected = [orva.solve_lp(*p).fun for p in problems]
    results = [None] * 4

    def work(k):
        results[k] = orva.solve_lp(*problems[k]).fun

    threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == expected

    def rss_kb():
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024

    for _ in range(50):
        orva.solve_qp(np.eye(12), problems[0][0], problems[0][1], None, problems[0][2], lb=-1, ub=1)
    before = rss_kb()
    for k in range(400):
        orva.solve_qp(np.eye(12), problems[0][0], problems[0][1], None, problems[0][2], lb=-1, ub=1)
        with pytest.raises(orva.OrvaError):
            orva.solve_qp(None, [0, 0], [[1, 1]], [2], [1])
    assert rss_kb() - before < 2048
