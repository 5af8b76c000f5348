"""lumbra.dask on a local cluster of two worker processes: the merged
verdict on a 64 MiB file equals test_file of the whole file."""
import random

import pytest

import lumbra

distributed = pytest.importorskip("distributed")


def lumbra_dask():
    """lumbra.dask, which the package installs beside the extension."""
    from lumbra import dask
    return dask


def test_a_cluster_of_two_processes_gives_test_file(kit, tmp_path):
    path = tmp_path / "big.bin"
    path.write_bytes(random.Random(64).randbytes(64 << 20))
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        got = lumbra_dask().test_file(path, client, n=1024, slices=7)
    want = lumbra.test_file(path, 1024)
    assert got == want
    (printed,) = kit.json_lines("test", "-q", "--format", "json", path)
    assert got == printed
