"""Exact counts of walks in a band, exact p-values of bit blocks, ranking.

A block of n bits is a walk: up for a one, down for a zero. C(n, k, d) counts
the n-bit blocks with k ones whose walk stays within d of the straight line
to its end point. lumbra-kit does the same from the command line.

>>> import lumbra
>>> lumbra.count(10, 5, 2)
162

This package is a thin layer over the compiled extension lumbra._lumbra:
every public name of the extension is a name of the package, each function
with a signature that inspect.signature() reads; ks_2samp follows SciPy's
signature and result.
"""
import ast
import functools
import inspect
import math
import numbers

from . import _lumbra

__version__ = _lumbra.__version__


def _signature(line):
    """The signature a line written as `name(a, b=1, *, c=None) -> ...`
    shows (annotations dropped), or None where it does not parse."""
    try:
        f = ast.parse(f"def {line.split(' -> ', 1)[0]}: pass").body[0]
        for a in f.args.posonlyargs + f.args.args + f.args.kwonlyargs:
            a.annotation = None
        scope = {}
        exec(compile(ast.Module(body=[f], type_ignores=[]), "<signature>", "exec"), {}, scope)
        return inspect.signature(scope[f.name])
    except (SyntaxError, ValueError, NameError, TypeError, AttributeError, IndexError):
        return None


def _wrap(name, function):
    """A Python function that calls the extension's, with its docstring and
    the signature of its first line (or of the line pybind11 generates):
    the extension's own functions have none that inspect can read."""
    doc = function.__doc__ or ""
    generated, _, written = doc.partition("\n\n") if doc.startswith(name + "(") else ("", "", doc)

    @functools.wraps(function)
    def call(*args, **kwargs):
        return function(*args, **kwargs)

    call.__module__ = __name__
    call.__qualname__ = name
    call.__doc__ = written
    signature = _signature(written.split("\n", 1)[0]) or _signature(generated)
    if signature is not None:
        call.__signature__ = signature
    return call


__all__ = []
for _name in dir(_lumbra):
    if _name.startswith("_"):
        continue
    _value = getattr(_lumbra, _name)
    if callable(_value) and not isinstance(_value, type):
        _value = _wrap(_name, _value)
    elif isinstance(_value, type):
        # The errors and classes are lumbra's, as tracebacks and reprs name them.
        try:
            _value.__module__ = __name__
        except (AttributeError, TypeError):
            pass
    globals()[_name] = _value
    __all__.append(_name)


class KstestResult(tuple):
    """The result of ks_2samp as SciPy gives it: a pair (statistic, pvalue)
    that also names them, with statistic_location (the value of the pooled
    sample where the distance is attained) and statistic_sign (+1 where the
    empirical distribution of data1 lies above that of data2 there, else
    -1)."""

    def __new__(cls, statistic, pvalue, statistic_location, statistic_sign):
        self = tuple.__new__(cls, (statistic, pvalue))
        self.statistic_location = statistic_location
        self.statistic_sign = statistic_sign
        return self

    statistic = property(lambda self: self[0])
    pvalue = property(lambda self: self[1])

    def __reduce__(self):
        return (KstestResult, (self[0], self[1], self.statistic_location, self.statistic_sign))

    def __repr__(self):
        return (f"KstestResult(statistic={self.statistic!r}, pvalue={self.pvalue!r}, "
                f"statistic_location={self.statistic_location!r}, statistic_sign={self.statistic_sign!r})")


def _refused(data, name):
    """Refuses what is no sample of real numbers: text, bytes, and buffers
    of bytes (which would read as small integers)."""
    if isinstance(data, (str, bytes, bytearray)) or (isinstance(data, memoryview) and data.format in ("B", "b", "c")):
        raise TypeError(f"{name} must be a sequence of real numbers, not {type(data).__name__}")


def _sample(data, name):
    """A one-dimensional sample as a NumPy array of float64 (NaN and
    infinities kept), or a list of floats where NumPy is missing."""
    _refused(data, name)
    try:
        import numpy as np
    except ImportError:
        np = None
    if np is not None:
        try:
            a = np.asarray(data)
        except (TypeError, ValueError) as e:
            raise TypeError(f"{name} must be a sequence of real numbers: {e}") from None
        if a.dtype.kind not in "biuf":
            raise TypeError(f"{name} must hold real numbers, not values of dtype {a.dtype}")
        if a.ndim == 0:
            raise TypeError(f"{name} must be a sequence of real numbers, not {type(data).__name__}")
        return np.ascontiguousarray(a, dtype=np.float64).ravel()
    try:
        values = list(data)
    except TypeError:
        raise TypeError(f"{name} must be a sequence of real numbers, not {type(data).__name__}") from None
    out = []
    for v in values:
        if isinstance(v, (str, bytes, bytearray)) or (isinstance(v, numbers.Complex) and not isinstance(v, numbers.Real)):
            raise TypeError(f"{name} must hold real numbers, not {type(v).__name__}")
        try:
            out.append(float(v))
        except (TypeError, ValueError):
            raise TypeError(f"{name} must hold real numbers, not {type(v).__name__}") from None
    return out


def _location(x, y, alternative):
    """SciPy's statistic_location and statistic_sign: the pooled value where
    the distance is largest (the first in sorted data1-then-data2 order
    among equals) and whether F1 - F2 is positive there."""
    if not isinstance(x, list):
        import numpy as np
        xs, ys = np.sort(x), np.sort(y)
        pooled = np.concatenate([xs, ys])
        diff = np.searchsorted(xs, pooled, side="right") / len(xs) - np.searchsorted(ys, pooled, side="right") / len(ys)
        plus, minus = int(np.argmax(diff)), int(np.argmin(diff))
        best_plus, best_minus = (float(diff[plus]), float(pooled[plus])), (float(-diff[minus]), float(pooled[minus]))
    else:
        import bisect
        xs, ys = sorted(x), sorted(y)
        best_plus = best_minus = None
        for v in xs + ys:
            diff = bisect.bisect_right(xs, v) / len(xs) - bisect.bisect_right(ys, v) / len(ys)
            if best_plus is None or diff > best_plus[0]:
                best_plus = (diff, v)
            if best_minus is None or -diff > best_minus[0]:
                best_minus = (-diff, v)
    if alternative == "less" or (alternative == "two-sided" and min(max(best_minus[0], 0.0), 1.0) > best_plus[0]):
        return best_minus[1], -1
    return best_plus[1], 1


def _asymptotic(d, n1, n2, alternative):
    """The p-value of SciPy's method='asymp' (for comparison): the
    one-sample law at the effective size for two-sided, Hodges' formula for
    one-sided."""
    m, n = sorted([float(n1), float(n2)], reverse=True)
    en = m * n / (m + n)
    if alternative == "two-sided":
        try:
            from scipy.stats import distributions
        except ImportError:
            raise ArgumentError("method='asymp' (two-sided) computes SciPy's asymptotic p-value and needs SciPy") from None
        p = float(distributions.kstwo.sf(d, round(en)))
    else:
        z = math.sqrt(en) * d
        p = math.exp(-2 * z * z - 2 * z * (m + 2 * n) / math.sqrt(m * n * (m + n)) / 3.0)
    return min(max(p, 0.0), 1.0)


_ALTERNATIVES = ("two-sided", "less", "greater")
_METHODS = ("auto", "exact", "asymp")
_NAN_POLICIES = ("propagate", "omit", "raise")


def _not_nan(v):
    return v == v


def _all(test, sample):
    """Whether test (math.isfinite, or "not NaN") holds for every value."""
    if isinstance(sample, list):
        return all(map(test, sample))
    import numpy as np
    return bool(np.isfinite(sample).all() if test is math.isfinite else not np.isnan(sample).any())


def _ks_2samp_1d(x, y, alternative, method, nan_policy, exact_fraction):
    if not (_all(_not_nan, x) and _all(_not_nan, y)):
        if nan_policy == "raise":
            raise ValueError("The input contains nan values")
        if nan_policy == "propagate":
            return KstestResult(math.nan, math.nan, math.nan, 0)
        x = x[x == x] if not isinstance(x, list) else [v for v in x if v == v]
        y = y[y == y] if not isinstance(y, list) else [v for v in y if v == v]
    ranked_x, ranked_y = x, y
    if len(x) and len(y) and not (_all(math.isfinite, x) and _all(math.isfinite, y)):
        # The statistic and the exact p-value depend only on the order of
        # the pooled values: infinities are given as ranks.
        rank = {v: float(i) for i, v in enumerate(sorted(set(map(float, x)) | set(map(float, y))))}
        ranked_x, ranked_y = [rank[float(v)] for v in x], [rank[float(v)] for v in y]
    statistic, pvalue = _lumbra.ks_2samp(ranked_x, ranked_y, alternative=alternative,
                                          exact=exact_fraction and method != "asymp")
    if method == "asymp":
        pvalue = _asymptotic(statistic, len(x), len(y), alternative)
    location, sign = _location(x, y, alternative)
    return KstestResult(statistic, pvalue, location, sign)


def ks_2samp(data1, data2, alternative="two-sided", method="auto", *, axis=0, nan_policy="propagate",
             exact_fraction=False):
    """The two-sample Smirnov (Kolmogorov-Smirnov) test, with SciPy's
    signature and result.

    Returns a KstestResult: the pair (statistic, pvalue) with the fields
    statistic, pvalue, statistic_location and statistic_sign. The statistic
    is max|F1 - F2| (two-sided), max(F1 - F2) ('greater') or max(F2 - F1)
    ('less'). method 'auto' and 'exact' give the exact permutation p-value,
    ties included, at any sample size (as `lumbra-kit smirnov`); 'asymp'
    gives SciPy's asymptotic p-value, for comparison (two-sided needs
    SciPy). exact_fraction=True gives the exact p-value as a
    fractions.Fraction. NaN: nan_policy 'propagate' gives NaN, 'omit' drops
    them, 'raise' raises ValueError. Arrays of several dimensions are tested
    along axis (NumPy needed), giving arrays of results.

    >>> lumbra.ks_2samp([1, 2, 3], [4, 5, 6])
    KstestResult(statistic=1.0, pvalue=0.1, statistic_location=3.0, statistic_sign=1)
    >>> lumbra.ks_2samp([1, 2, 3], [4, 5, 6], exact_fraction=True).pvalue
    Fraction(1, 10)
    """
    if not isinstance(alternative, str) or alternative.lower() not in _ALTERNATIVES:
        raise ArgumentError(f"alternative must be 'two-sided', 'less' or 'greater', not {alternative!r}")
    if not isinstance(method, str) or method not in _METHODS:
        raise ArgumentError(f"method must be 'auto', 'exact' or 'asymp', not {method!r}")
    if not isinstance(nan_policy, str) or nan_policy not in _NAN_POLICIES:
        raise ArgumentError(f"nan_policy must be 'propagate', 'omit' or 'raise', not {nan_policy!r}")
    if not isinstance(exact_fraction, bool):
        raise TypeError(f"exact_fraction must be True or False, not {exact_fraction!r}")
    alternative = alternative.lower()
    ndim = max(getattr(data1, "ndim", 1), getattr(data2, "ndim", 1))
    if ndim <= 1:
        if axis is not None and not (isinstance(axis, numbers.Integral) and axis in (0, -1)):
            raise ArgumentError(f"axis {axis!r} is out of range for one-dimensional samples")
        return _ks_2samp_1d(_sample(data1, "data1"), _sample(data2, "data2"), alternative, method, nan_policy,
                            exact_fraction)
    import numpy as np
    a, b = np.asarray(data1), np.asarray(data2)
    for name, v in (("data1", a), ("data2", b)):
        if v.dtype.kind not in "biuf":
            raise TypeError(f"{name} must hold real numbers, not values of dtype {v.dtype}")
    if axis is None:
        a, b, axis = a.ravel(), b.ravel(), 0
        return _ks_2samp_1d(a.astype(np.float64), b.astype(np.float64), alternative, method, nan_policy,
                            exact_fraction)
    a, b = np.moveaxis(a, axis, -1), np.moveaxis(b, axis, -1)
    shape = np.broadcast_shapes(a.shape[:-1], b.shape[:-1])
    a = np.broadcast_to(a, shape + a.shape[-1:])
    b = np.broadcast_to(b, shape + b.shape[-1:])
    results = [_ks_2samp_1d(a[i].astype(np.float64), b[i].astype(np.float64), alternative, method, nan_policy,
                            exact_fraction) for i in np.ndindex(shape)]

    def field(get, dtype):
        return np.array([get(r) for r in results], dtype=dtype).reshape(shape)

    return KstestResult(field(lambda r: r.statistic, float), field(lambda r: r.pvalue, object if exact_fraction else float),
                        field(lambda r: r.statistic_location, float), field(lambda r: r.statistic_sign, int))


if "ks_2samp" not in __all__:
    __all__.append("ks_2samp")
__all__.append("KstestResult")
__all__.sort()
del _name, _value
