#!/usr/bin/env python3
"""lumbra-kit smirnov against SciPy's exact two-sample method.

Random samples without ties, sizes up to a few thousand and every
alternative: the statistic must be the same double (to one unit in the last
place) and the p-value must agree to 1e-10 relative wherever SciPy computes
it exactly without a warning. Usage: smirnov_scipy.py LUMBRA_KIT
"""
import json
import os
import subprocess
import sys
import tempfile
import warnings

import numpy as np
from scipy import stats


def main():
    kit = sys.argv[1]
    rng = np.random.default_rng(24)
    sizes = [(1, 1), (1, 7), (3, 2), (10, 10), (25, 40), (100, 101), (300, 170), (500, 500), (1000, 1500)]
    sizes += [(int(rng.integers(1, 200)), int(rng.integers(1, 200))) for _ in range(20)]
    checked = 0
    with tempfile.TemporaryDirectory() as tmp:
        for n1, n2 in sizes:
            shift = float(rng.choice([0.0, 0.2, 0.7, 2.0]))
            x = rng.normal(size=n1)
            y = rng.normal(size=n2) + shift
            fx, fy = os.path.join(tmp, "x"), os.path.join(tmp, "y")
            with open(fx, "w") as f:
                f.write("\n".join(repr(float(v)) for v in x) + "\n")
            with open(fy, "w") as f:
                f.write("\n".join(repr(float(v)) for v in y) + "\n")
            for alt in ("two-sided", "less", "greater"):
                with warnings.catch_warnings():
                    warnings.simplefilter("error")
                    try:
                        want = stats.ks_2samp(x, y, alternative=alt, method="exact")
                    except (RuntimeWarning, UserWarning):
                        continue  # SciPy fell back from its exact method
                out = subprocess.run([kit, "smirnov", fx, fy, "--alternative", alt, "--format", "json"],
                                     check=True, capture_output=True, text=True).stdout
                got = json.loads(out)
                where = f"n1={n1} n2={n2} shift={shift} {alt}"
                assert abs(got["statistic"] - want.statistic) <= 2.3e-16 * max(want.statistic, 1e-300), \
                    f"{where}: statistic {got['statistic']!r}, SciPy {want.statistic!r}"
                p, w = got["pvalue"], float(want.pvalue)
                assert abs(p - w) <= 1e-10 * w, f"{where}: p-value {p!r}, SciPy {w!r}"
                checked += 1
    assert checked >= 60, f"only {checked} cases were checked"
    print(f"{checked} cases agree with SciPy")


if __name__ == "__main__":
    main()
