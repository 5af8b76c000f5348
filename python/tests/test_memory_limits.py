"""Every function of the module under address-space limits: each call
returns or raises, and the interpreter never aborts (GMP's own allocation
failure ends a process with SIGABRT; the module's calls must not let it).

One child interpreter a limit: it sets RLIMIT_AS to what it maps already
plus the limit, calls every function in turn and prints one line a call;
the parent checks that the child ended by itself and that each call
returned or raised a lumbra.Error or a MemoryError."""
import os
import subprocess
import sys
import textwrap

import pytest

CHILD = textwrap.dedent(r"""
    import resource, sys
    import lumbra
    try:
        import numpy  # what ks_2samp's layer imports, in before the limit
    except ImportError:
        pass
    path, extra = sys.argv[1], int(sys.argv[2])
    data = open(path, 'rb').read()
    bits = ''.join('1' if i % 3 == 0 else '0' for i in range(4096))
    calls = [
        ('count', lambda: lumbra.count(200000, 100000, 60)),
        ('binomial refused', lambda: lumbra.binomial(2147483646, 1073741823)),
        ('binomial', lambda: lumbra.binomial(3000000, 1500000)),
        ('p_ones', lambda: lumbra.p_ones(4096, 1900, exact=True)),
        ('p_deviation', lambda: lumbra.p_deviation(4096, 2048, 70, exact=True)),
        ('block_stats', lambda: lumbra.block_stats(data, 4096)),
        ('test_file', lambda: lumbra.test_file(path, 1024, threads=2, statistics=['all'])),
        ('test_sizes', lambda: lumbra.test_sizes(path, [64, 4096], threads=2)),
        ('rank', lambda: lumbra.rank(bits)),
        ('unrank', lambda: lumbra.unrank(4096, 2048, 100, 123456789)),
        ('shape', lambda: lumbra.unshape(lumbra.shape(b'x' * 20000, 256, 4), 256, 4)),
        ('shape_info', lambda: lumbra.shape_info(1024, 16)),
        ('ks_2samp', lambda: lumbra.ks_2samp([1.5] * 3000, [2.5] * 2000)),
        ('test_bytes', lambda: lumbra.test_bytes(data, 1024, statistics=['all'])),
        ('merge', lambda: lumbra.merge([lumbra.test_bytes(data, 1024)])),
    ]
    with open('/proc/self/status') as f:
        mapped = next(int(l.split()[1]) * 1024 for l in f if l.startswith('VmSize:'))
    limit = mapped + (extra << 20)
    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    for name, call in calls:
        try:
            call()
            print(name, 'returned', flush=True)
        except (lumbra.Error, MemoryError) as e:
            print(name, 'raised', type(e).__name__, flush=True)
        except BaseException as e:  # a wrong kind, but no abort
            print(name, 'raised the wrong kind', type(e).__name__, e, flush=True)
""")


@pytest.mark.parametrize("extra", [0, 2, 8, 32, 128, 512])
def test_every_function_returns_or_raises_under_a_memory_limit(extra, tmp_path):
    path = tmp_path / "data.bin"
    path.write_bytes(os.urandom(256 * 1024))
    p = subprocess.run([sys.executable, "-c", CHILD, str(path), str(extra)], capture_output=True, text=True,
                       timeout=300, check=False)
    assert p.returncode == 0, f"status {p.returncode}: {p.stdout[-400:]} {p.stderr[-400:]}"
    lines = p.stdout.splitlines()
    assert len(lines) == 15, p.stdout
    assert not [line for line in lines if "wrong kind" in line], p.stdout
