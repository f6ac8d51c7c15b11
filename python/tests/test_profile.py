"""bench/profile.py: which runs count as solved, and the ratios to the fastest solver."""
import importlib.util
import math
import os
import subprocess
import sys

import pytest

pytest.importorskip("matplotlib")
spec = importlib.util.spec_from_file_location(
    "profile_script", os.path.join(os.path.dirname(__file__), "../../bench/profile.py"))
profile = importlib.util.module_from_spec(spec)
spec.loader.exec_module(profile)


def test_profile_counts_only_correct_optimal_runs(tmp_path):
    runs = tmp_path / "runs.csv"
    runs.write_text("problem,solver,status,objective,seconds\n"
                    "p1,a,optimal,1.0,2.0\np1,b,optimal,1.0,1.0\n"
                    "p2,a,optimal,5.0,1.0\np2,b,optimal,6.0,0.5\n"      # b is wrong on p2
                    "p3,a,iteration_limit,0,1.0\np3,b,optimal,0,0.0\n"  # b's time floored
                    "p4,a,optimal,0,1.0\n")                             # b did not run p4
    man = tmp_path / "MANIFEST.csv"
    man.write_text("name,optimal_objective\np1,1.0\np2,5.0\n")
    solvers, problems, times = profile.solved_times(profile.read_runs([runs]), profile.read_optima(man),
                                                    1e-6, 1e-3)
    assert (solvers, problems) == (["a", "b"], ["p1", "p2", "p3"])
    assert times[("p2", "b")] == math.inf and times[("p3", "a")] == math.inf and times[("p3", "b")] == 1e-3
    assert profile.profile(solvers, problems, times) == {"a": [1.0, 2.0, math.inf], "b": [1.0, 1.0, math.inf]}
    out = tmp_path / "p.png"
    subprocess.run([sys.executable, spec.origin, "-o", str(out), str(runs)], check=True, capture_output=True)
    assert out.stat().st_size > 1000
