"""lumbra.dask: one file judged on a Dask cluster.

test_file(path) cuts the file into slices of whole blocks, judges each on a
worker of a dask.distributed cluster (lumbra.test_file of the slice), and
merges the slices' summaries (lumbra.merge, the same reader and merge as
`lumbra-kit merge`): the result equals lumbra.test_file of the whole file.
Every worker must import lumbra and read the file at the same path (a shared
file system, say).

Dask stays optional: `import lumbra` works without it; this module needs
Dask and its distributed scheduler (Debian: python3-dask and
python3-distributed) and says so when they are missing.
"""
import math
import os

try:
    import distributed
except ImportError as e:  # pragma: no cover - depends on what is installed
    raise ImportError(
        "lumbra.dask needs Dask's distributed scheduler, which is not installed "
        "(Debian: apt install python3-dask python3-distributed; pip: pip install 'dask[distributed]'): " + str(e)
    ) from e

import lumbra

__all__ = ["test_file"]


def _slice(path, n, first_block, block_count, statistics):
    """One slice judged on a worker, on one thread: the cluster's tasks are
    the parallelism."""
    import lumbra as worker_lumbra

    return worker_lumbra.test_file(path, n, threads=1, statistics=statistics, first_block=first_block,
                                   block_count=block_count)


def test_file(path, client=None, n=1024, slices=None, statistics=None):
    """test_file(path, client=None, n=1024, slices=None, statistics=None) -> dict

    The verdict on the file at path, as lumbra.test_file(path, n,
    statistics=statistics) gives it, from `slices` slices (default: four per
    thread of the cluster's workers, at most one per block) judged on the
    cluster of `client` (default: the current client, or a local cluster made
    for the call and closed after it)."""
    path = os.path.abspath(os.fsdecode(path))
    if not isinstance(n, int) or isinstance(n, bool) or not 1 <= n <= 4096:
        raise lumbra.ArgumentError(f"N must be 1 to 4096, not {n!r}")
    blocks = (os.path.getsize(path) * 8 + n - 1) // n
    own = None
    if client is None:
        try:
            client = distributed.get_client()
        except ValueError:
            own = client = distributed.Client()
    try:
        if slices is None:
            threads = sum(client.nthreads().values()) or 1
            slices = 4 * threads
        if not isinstance(slices, int) or isinstance(slices, bool) or slices < 1:
            raise lumbra.ArgumentError(f"slices must be a whole number from 1, not {slices!r}")
        if blocks == 0:
            return lumbra.test_file(path, n, statistics=statistics)
        per = math.ceil(blocks / min(slices, blocks))
        firsts = list(range(0, blocks, per))
        futures = client.map(_slice, [path] * len(firsts), [n] * len(firsts), firsts,
                             [min(per, blocks - f) for f in firsts], [statistics] * len(firsts), pure=False)
        return lumbra.merge(client.gather(futures))
    finally:
        if own is not None:
            own.close()
