"""Ctrl-C stops every long call: SIGINT 0.5 s into it raises KeyboardInterrupt
within a second, and the next call is unharmed."""
import os
import random
import signal
import tempfile
import threading
import time

import pytest

import lumbra


def band_samples():
    # 10^6 against 10^6 + 1 without ties at D ~ 0.016 (p ~ 1e-100): the
    # band's pass, half a minute and more.
    n = 10**6
    x = [2.0 * i for i in range(n)]
    y = [2.0 * i + 1 + 0.032 * n for i in range(n + 1)]
    return x, y


def exact_samples():
    # The exact count at 2 10^4 against 2 10^4 + 1 far in the tail: tens of seconds.
    n = 2 * 10**4
    x = [2.0 * i for i in range(n)]
    y = [2.0 * i + 1 + 0.2 * n for i in range(n + 1)]
    return x, y


def sizes_file():
    # Every block size of 1 to 4096 bits over 64 KiB: minutes of laws.
    f = tempfile.NamedTemporaryFile(suffix=".bin", delete=False)
    f.write(random.Random(40).randbytes(1 << 16))
    f.close()
    return f.name


def sparse_file():
    # 8 GiB of zeros that take no room: seconds of reading and measuring.
    f = tempfile.NamedTemporaryFile(suffix=".bin", delete=False)
    f.truncate(8 << 30)
    f.close()
    return f.name


LONG_CALLS = {
    "count": lambda: lumbra.count(4000000, 2000000, 1),
    "ks_2samp": lambda: lumbra.ks_2samp(*BAND),
    "ks_2samp exact": lambda: lumbra.ks_2samp(*EXACT, exact_fraction=True),
    "test_file": lambda: lumbra.test_file(SPARSE),
    "test_sizes": lambda: lumbra.test_sizes(SIZES, sizes=range(1, 4097)),
    # 64 MiB: several seconds of words.
    "shape": lambda: lumbra.shape(random.Random(41).randbytes(64 << 20)),
}
BAND = band_samples()
EXACT = exact_samples()
SIZES = sizes_file()
SPARSE = sparse_file()


def teardown_module():
    os.unlink(SIZES)
    os.unlink(SPARSE)


@pytest.mark.parametrize("name", sorted(LONG_CALLS))
def test_sigint_stops_a_long_call_within_a_second(name):
    timer = threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT))
    start = time.monotonic()
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            LONG_CALLS[name]()
    finally:
        timer.cancel()
    assert time.monotonic() - start < 1.5, name
    assert lumbra.ks_2samp([1, 2, 3], [4, 5, 6])[1] == pytest.approx(0.1)
