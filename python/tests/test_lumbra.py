"""The module against lumbra-kit's output for the same random input, its
exact fractions against Python's own integers, and its manners: the GIL let
go, Ctrl-C, errors, docstrings."""
import array
import doctest
import fractions
import math
import os
import random
import signal
import threading
import time

import pytest

import lumbra

rng = random.Random(25)


def deviation(bits):
    """The walk's largest distance from the line L(x) = x(2k - n)/n, truncated."""
    n, k = len(bits), bits.count(1)
    y, d = 0, 0
    for x, b in enumerate(bits, 1):
        y += 1 if b else -1
        line = abs(x * (2 * k - n)) // n * (1 if 2 * k >= n else -1)
        d = max(d, abs(y - line))
    return d


def test_counts_and_laws_against_enumeration():
    # Every block of up to 12 bits: the counts by (k, d), and both p-values
    # as fractions of Python integers.
    for m in range(1, 13):
        blocks = [[(v >> (m - 1 - i)) & 1 for i in range(m)] for v in range(1 << m)]
        by = {}
        for b in blocks:
            key = (sum(b), deviation(b))
            by[key] = by.get(key, 0) + 1
        for k in range(m + 1):
            assert lumbra.binomial(m, k) == math.comb(m, k)
            tail_ones = sum(math.comb(m, i) for i in range(m + 1) if abs(2 * i - m) >= abs(2 * k - m))
            assert lumbra.p_ones(m, k, exact=True) == fractions.Fraction(tail_ones, 2**m)
            for d in range(m + 1):
                within = sum(c for (kk, dd), c in by.items() if kk == k and dd <= d)
                assert lumbra.count(m, k, d) == within
                at_least = sum(c for (kk, dd), c in by.items() if kk == k and dd >= d)
                p = lumbra.p_deviation(m, k, d, exact=True)
                assert p == fractions.Fraction(at_least, math.comb(m, k))
                assert lumbra.p_deviation(m, k, d) == float(p)


def test_floats_are_the_fractions_correctly_rounded():
    # Python's int / int is correctly rounded: tails down through the
    # subnormals to zero, and random blocks of every size.
    cases = [(4096, k) for k in range(700, 1000, 3)]
    for m, k in cases:
        assert lumbra.p_ones(m, k) == float(lumbra.p_ones(m, k, exact=True)), (m, k)
    for _ in range(60):
        m = rng.randint(1, 4096)
        k = rng.randint(0, m)
        d = rng.randint(0, min(m, 3 * int(math.sqrt(m)) + 2))
        assert lumbra.p_deviation(m, k, d) == float(lumbra.p_deviation(m, k, d, exact=True)), (m, k, d)


def test_count_against_the_command_line(kit):
    for _ in range(25):
        n = rng.choice([rng.randint(1, 60), rng.randint(1, 3000)])
        k, d = rng.randint(0, n), rng.randint(0, n)
        (j,) = kit.json_lines("count", n, k, d, "--format", "json")
        assert lumbra.count(n, k, d) == int(j["count"])
        assert lumbra.binomial(n, k) == int(j["total"])
        assert lumbra.count(n, k, d).bit_length() == j["bits"]


@pytest.fixture(scope="module")
def random_file(tmp_path_factory):
    path = tmp_path_factory.mktemp("data") / "random.bin"
    path.write_bytes(rng.randbytes(rng.randint(3000, 9000)))
    return path


def test_block_stats_against_blocks(kit, random_file):
    data = random_file.read_bytes()
    for n in (rng.randint(1, 64), rng.randint(65, 1500), 4096):
        rows = lumbra.block_stats(data, n)
        want = kit.json_lines("blocks", "-n", n, "--format", "jsonl", random_file)
        assert len(rows) == len(want)
        for row, w in zip(rows, want):
            assert row[:5] == (w["block"], w["offset"], w["length"], w["ones"], w["deviation"])
            # The command line prints six digits rounded from the exact value.
            assert float("%.6g" % row[5]) == w["p_ones"] and float("%.6g" % row[6]) == w["p_deviation"]
    # The same bits as text, and as a NumPy structured array.
    text = "".join(format(b, "08b") for b in data[:40])[:317]
    assert lumbra.block_stats(text, 50) == lumbra.block_stats(data[:40], 50)[:6] + [lumbra.block_stats(text, 50)[6]]
    assert lumbra.block_stats(text, 50)[6][2] == 17
    np = pytest.importorskip("numpy")
    a = lumbra.block_stats(data, 256, as_array=True)
    assert a.dtype.names == ("block", "offset", "length", "ones", "deviation", "p_ones", "p_deviation")
    assert [tuple(r) for r in a.tolist()] == lumbra.block_stats(data, 256)
    assert np.all(a["ones"] <= a["length"])


def test_test_file_is_test_json(kit, random_file):
    for n in (rng.randint(1, 100), 1024):
        (want,) = kit.json_lines("test", "-n", n, "--format", "json", random_file)
        assert lumbra.test_file(random_file, n=n, threads=rng.randint(0, 3)) == want
    names = ["runs", "longest_run", "deviation_up", "deviation_down", "rank", "linear_complexity", "collisions"]
    for chosen in (rng.sample(names, 2), "all"):
        listed = chosen if isinstance(chosen, str) else ",".join(chosen)
        n = rng.randint(1, 300)
        (want,) = kit.json_lines("test", "-n", n, "--statistics", listed, "--format", "json", random_file)
        assert lumbra.test_file(random_file, n=n, statistics=chosen) == want
        assert lumbra.test_file(random_file, n=n, statistics=listed) == want


def test_test_sizes_is_test_json_at_several_sizes(kit, random_file):
    sizes = rng.sample(range(1, 300), rng.randint(1, 3)) + [1024]
    rng.shuffle(sizes)
    listed = ",".join(map(str, sizes))
    for statistics in (None, "all"):
        extra = ("--statistics", statistics) if statistics else ()
        (want,) = kit.json_lines("test", "-n", listed, *extra, "--format", "json", random_file)
        assert lumbra.test_sizes(random_file, sizes, threads=rng.randint(0, 3), statistics=statistics) == want
    for bad in ([], [64, 64], [0], [4097]):
        with pytest.raises(lumbra.ArgumentError):
            lumbra.test_sizes(random_file, bad)


def test_rank_and_unrank_against_the_command_line(kit, random_file):
    n = rng.randint(8, 200)
    data = random_file.read_bytes()[:600]
    path = random_file.parent / "head.bin"
    path.write_bytes(data)
    want = kit.json_lines("rank", "-n", n, "--format", "jsonl", path)
    bits = "".join(format(b, "08b") for b in data)
    for w in want:
        block = bits[w["block"] * n:(w["block"] + 1) * n]
        assert lumbra.rank(block) == (w["length"], w["ones"], w["deviation"], int(w["index"]))
        assert lumbra.unrank(w["length"], w["ones"], w["deviation"], int(w["index"])) == block
    for _ in range(10):
        m = rng.randint(1, 300)
        k = rng.randint(0, m)
        d = rng.randint(0, m)
        total = lumbra.count(m, k, d)
        if total == 0:
            continue
        i = rng.randrange(total)
        assert lumbra.unrank(m, k, d, i) == kit("unrank", m, k, d, i).strip()


def test_errors_carry_the_command_lines_words(kit, tmp_path):
    def words(*args):
        return kit(*args, status=1).splitlines()[0].removeprefix("lumbra-kit: ")

    for call, args in [
        (lambda: lumbra.count(10, 12, 2), ("count", 10, 12, 2)),
        (lambda: lumbra.count(10, 5, 11), ("count", 10, 5, 11)),
        (lambda: lumbra.unrank(16, 7, 2, 3267), ("unrank", 16, 7, 2, 3267)),
        (lambda: lumbra.unrank(16, 17, 2, 0), ("unrank", 16, 17, 2, 0)),
    ]:
        with pytest.raises(ValueError) as e:
            call()
        assert str(e.value) == words(*args)
    with pytest.raises(ValueError, match="INDEX must be a decimal number, not '-1'"):
        lumbra.unrank(16, 7, 2, -1)
    # N = 0 is refused by the command line's number check before the count's
    # own range check, so only the kind of error is the same.
    for bad in (lambda: lumbra.count(0, 0, 0), lambda: lumbra.p_ones(0, 0), lambda: lumbra.p_deviation(10, 3, 11),
                lambda: lumbra.rank("0120"), lambda: lumbra.rank(""), lambda: lumbra.block_stats(b"x", 0),
                lambda: lumbra.count(2**40, 1, 1)):
        with pytest.raises(lumbra.ArgumentError):
            bad()
    with pytest.raises(ValueError) as e:
        lumbra.test_file(tmp_path, statistics=["runs", "gaps"])
    assert str(e.value) == "statistics" + words("test", "--statistics", "runs,gaps", tmp_path).removeprefix("--statistics")
    missing = tmp_path / "no-such-file.bin"
    with pytest.raises(OSError) as e:
        lumbra.test_file(missing)
    assert str(e.value) == kit("test", missing, status=2).strip().removeprefix("lumbra-kit: ")


# A count of about half a second on one core, and one that runs for minutes.
SECOND = (30000, 14999, 300)
MINUTES = (400000, 199999, 300)


def test_a_count_lets_other_threads_run():
    ticks = 0
    done = threading.Event()

    def tick():
        nonlocal ticks
        while not done.is_set():
            ticks += 1
            time.sleep(0.001)

    t = threading.Thread(target=tick)
    t.start()
    start = time.monotonic()
    lumbra.count(*SECOND, threads=1)
    spent = time.monotonic() - start
    done.set()
    t.join()
    # With the GIL held there is no tick while the count runs; let go, one
    # every millisecond or so (at least one every 50 on a busy machine).
    assert ticks >= max(5, 20 * spent), (spent, ticks)


def test_ctrl_c_stops_a_long_count():
    timer = threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT))
    start = time.monotonic()
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        lumbra.count(*MINUTES)
    assert time.monotonic() - start < 5
    # The next count is unharmed.
    assert lumbra.count(10, 5, 2) == 162


def test_every_docstring_example_runs():
    failed, attempted = doctest.testmod(lumbra, extraglobs={"lumbra": lumbra})
    assert attempted >= 10 and failed == 0


def test_shape_and_unshape_against_the_command_line(kit, tmp_path):
    # Random bytes, words and alphabets: shape's bytes are those of
    # lumbra-kit shape, and unshape gives the data back.
    for case in range(10):
        data = rng.randbytes(rng.choice([0, 1, rng.randint(2, 400)]))
        n = rng.choice([8, 16, 64, 256])
        d = rng.randint(1, min(n // 2, 6))
        alphabet = rng.choice(["bits", "text", "dna"])
        src, out = tmp_path / f"in{case}", tmp_path / f"out{case}"
        src.write_bytes(data)
        kit("shape", "-n", n, "-d", d, "--alphabet", alphabet, src, out)
        shaped = lumbra.shape(data, n=n, d=d, alphabet=alphabet)
        assert shaped == out.read_bytes(), (n, d, alphabet)
        assert lumbra.unshape(shaped, n=n, d=d, alphabet=alphabet) == data
    for n, d in [(2, 1), (16, 3), (256, 4), (1000, 7)]:
        header, row = kit("shape", "--info", "-n", n, "-d", d).splitlines()
        info = lumbra.shape_info(n, d)
        for key, value in zip(header.split("\t"), row.split("\t")):
            assert f"{info[key]:.6f}" == f"{float(value):.6f}" if "." in value else info[key] == int(value)


def test_shape_errors_carry_the_command_lines_words(kit, tmp_path):
    with pytest.raises(ValueError) as e:
        lumbra.shape(b"x", n=15, d=2)
    assert str(e.value) == kit("shape", "-n", 15, "-d", 2, "in", "out", status=1).splitlines()[0].removeprefix("lumbra-kit: ")
    with pytest.raises(ValueError):
        lumbra.shape(b"x", alphabet="morse")
    damaged = bytearray(lumbra.shape(b"some data", n=16, d=2))
    damaged[5] ^= 0x01
    (tmp_path / "damaged").write_bytes(damaged)
    with pytest.raises(lumbra.InputError) as e:
        lumbra.unshape(bytes(damaged), n=16, d=2)
    stderr = kit("unshape", "-n", 16, "-d", 2, tmp_path / "damaged", tmp_path / "back", status=2)
    assert stderr.strip() == f"lumbra-kit: {tmp_path / 'damaged'}: {e.value}"


try:
    import scipy.stats
except ImportError:
    scipy = None


@pytest.mark.parametrize("alternative", ["two-sided", "less", "greater"])
def test_ks_2samp_against_scipy_and_the_command_line(kit, tmp_path, alternative):
    # Small samples without ties: the p-value of SciPy's exact method, and
    # the fraction and statistic of lumbra-kit smirnov --exact.
    for case in range(8):
        pool = rng.sample(range(-1000, 1000), rng.randint(2, 24))
        cut = rng.randint(1, len(pool) - 1)
        x, y = [v / 8 for v in pool[:cut]], [v / 8 for v in pool[cut:]]
        statistic, p = lumbra.ks_2samp(x, y, alternative=alternative)
        s2, exact = lumbra.ks_2samp(x, y, alternative=alternative, exact_fraction=True)
        assert isinstance(exact, fractions.Fraction) and s2 == statistic
        assert p == float(exact)
        (tmp_path / "x").write_text(" ".join(map(str, x)))
        (tmp_path / "y").write_text("\n".join(map(str, y)))
        [row] = kit.json_lines("smirnov", tmp_path / "x", tmp_path / "y", "--alternative", alternative,
                               "--exact", "--format", "json")
        assert (row["statistic"], row["pvalue_exact"]) == (statistic, f"{exact.numerator}/{exact.denominator}")
        if scipy is not None:
            ref = scipy.stats.ks_2samp(x, y, alternative=alternative, method="exact")
            assert statistic == pytest.approx(ref.statistic, abs=1e-12)
            assert p == pytest.approx(ref.pvalue, abs=1e-10)
    with pytest.raises(ValueError, match="no numbers"):
        lumbra.ks_2samp([], [1.0])
    # NaN as SciPy takes it (nan_policy='propagate'); the extension itself refuses it.
    assert all(map(math.isnan, lumbra.ks_2samp([1.0, math.nan], [2.0])))
    with pytest.raises(ValueError, match="not a finite number"):
        lumbra._lumbra.ks_2samp([1.0, math.nan], [2.0])


def test_ks_2samp_reads_buffers_as_it_reads_sequences():
    # A buffer of doubles is copied as it lies (strided too); other buffers
    # and sequences go through the conversion of numbers; the answers agree.
    x, y = [0.5, -1.25, 3.0, 2.5, 0.0, 7.0], [1.0, 2.0, -0.5, 4.0, 0.25]
    want = lumbra.ks_2samp(x, y, exact_fraction=True)
    spaced = memoryview(array.array("d", [v for a in x for v in (a, 99.0)]))[::2]
    assert lumbra.ks_2samp(array.array("d", x), y, exact_fraction=True) == want
    assert lumbra.ks_2samp(spaced, array.array("d", y), exact_fraction=True) == want
    assert lumbra.ks_2samp(array.array("f", x), tuple(y), exact_fraction=True) == want
    numpy = pytest.importorskip("numpy")
    assert lumbra.ks_2samp(numpy.array(x), numpy.array(y, dtype=">f8"), exact_fraction=True) == want
    assert lumbra.ks_2samp(numpy.array([1, 2, 3]), [4, 5, 6], exact_fraction=True) == lumbra.ks_2samp([1, 2, 3], [4, 5, 6], exact_fraction=True)
    with pytest.raises(TypeError, match="data1 must be a sequence of real numbers, not int"):
        lumbra.ks_2samp(5, y)
