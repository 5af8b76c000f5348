"""lumbra.ks_2samp through SciPy's own published examples of ks_2samp (its
docstring, seeded), against SciPy's exact and asymptotic methods, and the
layer's manners: SciPy's keyword names and result, refusals of what is not a
sample of real numbers."""
import inspect
import math
import pickle
from fractions import Fraction

import pytest

import lumbra

np = pytest.importorskip("numpy")
stats = pytest.importorskip("scipy.stats")


def scipy_examples():
    """The calls of SciPy's ks_2samp docstring, with a seeded generator."""
    rng = np.random.default_rng(25)
    sample1 = stats.uniform.rvs(size=100, random_state=rng)
    sample2 = stats.norm.rvs(size=110, random_state=rng)
    yield sample1, sample2, {}
    sample1 = stats.norm.rvs(size=105, random_state=rng)
    sample2 = stats.norm.rvs(size=95, random_state=rng)
    yield sample1, sample2, {}
    sample1 = stats.norm.rvs(size=105, loc=0.5, random_state=rng)
    yield sample1, sample2, {"alternative": "less"}
    yield sample1, sample2, {"alternative": "greater"}


def location_and_sign(x, y, statistic, alternative):
    """Where F1 - F2 reaches the statistic, by a plain loop over the pooled values."""
    found = []
    for v in np.concatenate([np.sort(x), np.sort(y)]):
        diff = np.mean(x <= v) - np.mean(y <= v)
        if alternative != "less" and math.isclose(diff, statistic, abs_tol=1e-12):
            found.append((v, 1))
        if alternative != "greater" and math.isclose(-diff, statistic, abs_tol=1e-12):
            found.append((v, -1))
    return found


@pytest.mark.parametrize("case", range(4))
def test_scipys_examples_against_scipy(case):
    x, y, kwargs = list(scipy_examples())[case]
    alternative = kwargs.get("alternative", "two-sided")
    ours = lumbra.ks_2samp(x, y, **kwargs)
    theirs = stats.ks_2samp(x, y, method="exact", **kwargs)
    statistic, pvalue = ours
    assert (statistic, pvalue) == (ours.statistic, ours.pvalue)
    assert statistic == pytest.approx(theirs.statistic, abs=1e-15)
    assert pvalue == pytest.approx(theirs.pvalue, rel=1e-9)
    assert lumbra.ks_2samp(x, y, method="exact", **kwargs) == ours
    assert (ours.statistic_location, ours.statistic_sign) == location_and_sign(x, y, statistic, alternative)[0]
    asymp = lumbra.ks_2samp(x, y, method="asymp", **kwargs)
    assert asymp.pvalue == pytest.approx(stats.ks_2samp(x, y, method="asymp", **kwargs).pvalue, rel=1e-12)
    exact = lumbra.ks_2samp(x, y, exact_fraction=True, **kwargs).pvalue
    assert isinstance(exact, Fraction) and float(exact) == pytest.approx(pvalue, rel=1e-12)


def test_scipys_signature_keywords_nan_and_axis():
    # SciPy 1.10 has the first four; axis and nan_policy came later, as here.
    assert list(inspect.signature(lumbra.ks_2samp).parameters) == list(
        inspect.signature(stats.ks_2samp).parameters)[:4] + ["axis", "nan_policy", "exact_fraction"]
    assert str(inspect.signature(lumbra.count)) == "(n, k, d, threads=0)"
    x, y = [0.5, 1.5, math.nan, 2.5, math.inf], [-math.inf, 1.0, 2.0, 3.0]
    assert all(map(math.isnan, lumbra.ks_2samp(x, y)))
    with pytest.raises(ValueError):
        lumbra.ks_2samp(data1=x, data2=y, nan_policy="raise")
    omitted = lumbra.ks_2samp(x, y, nan_policy="omit")
    assert omitted[:2] == pytest.approx(stats.ks_2samp([v for v in x if v == v], y, method="exact")[:2])
    rng = np.random.default_rng(7)
    a, b = rng.normal(size=(20, 3)), rng.normal(0.3, 1, size=(25, 3))
    ours = lumbra.ks_2samp(a, b)  # along axis 0, as SciPy
    for i in range(3):
        theirs = stats.ks_2samp(a[:, i], b[:, i], method="exact")
        assert ours.statistic[i] == pytest.approx(theirs.statistic) and ours.pvalue[i] == pytest.approx(theirs.pvalue, rel=1e-9)
    assert lumbra.ks_2samp(a.T, b.T, axis=1).pvalue.tolist() == ours.pvalue.tolist()
    r = lumbra.ks_2samp([1, 2, 3], [4, 5, 6])
    assert pickle.loads(pickle.dumps(r)).statistic_location == r.statistic_location


def test_what_is_not_a_sample_or_an_option_is_refused():
    for bad in (bytearray(b"\x01\x02"), memoryview(b"\x01\x02"), b"\x01\x02", "12", [1 + 2j, 3], np.array([1j, 2]),
                np.array([1, 2], dtype=np.complex64)):
        with pytest.raises(TypeError):
            lumbra.ks_2samp(bad, [1.0, 2.0])
    for kwargs in ({"alternative": b"less"}, {"alternative": "sideways"}, {"method": "fast"},
                   {"nan_policy": "ignore"}):
        with pytest.raises(lumbra.ArgumentError):
            lumbra.ks_2samp([1.0], [2.0], **kwargs)
    with pytest.raises(TypeError):
        lumbra.ks_2samp([1.0], [2.0], exact_fraction=1.5)
    with pytest.raises(TypeError):
        lumbra.p_ones(10, 2, exact=1.5)
    with pytest.raises(lumbra.ArgumentError, match="N must fit in 32 bits, not a number of 100 bits"):
        lumbra.count(2**99, 5, 2)
    with pytest.raises(lumbra.ArgumentError, match="K must fit in 32 bits"):
        lumbra.unrank(16, 10**40, 2, 0)


def test_one_base_for_the_librarys_errors():
    for kind, builtin in ((lumbra.ArgumentError, ValueError), (lumbra.InputError, OSError),
                          (lumbra.ResourceError, MemoryError)):
        assert issubclass(kind, lumbra.Error) and issubclass(kind, builtin)
    with pytest.raises(lumbra.Error):
        lumbra.count(10, 12, 2)
    with pytest.raises(lumbra.Error):
        lumbra.test_file("/nonexistent/file.bin")
