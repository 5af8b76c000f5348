"""Bytes in memory, streams fed in pieces and slices merged: each judged as
test_file judges a file of the same bytes, over random sizes, block sizes and
cuts."""
import json
import random

import pytest

import lumbra

rng = random.Random(37)


def cases(count):
    """(bytes, n, statistics) of random lengths, some not whole blocks."""
    for _ in range(count):
        n = rng.choice([rng.randint(1, 80), rng.randint(81, 1100), 1024, 4096])
        size = rng.randint(0, 40 * n)
        statistics = rng.choice([None, "all", ["longest_run"]] if n < 2000 else [None])
        yield rng.randbytes(size), n, statistics


def written(tmp_path, data):
    path = tmp_path / "data.bin"
    path.write_bytes(data)
    return path


def test_bytes_tester_and_merged_slices_are_test_file(tmp_path):
    for data, n, statistics in cases(12):
        path = written(tmp_path, data)
        want = lumbra.test_file(path, n, statistics=statistics)
        assert lumbra.test_bytes(data, n, statistics) == want
        assert lumbra.test_bytes(memoryview(data), n, statistics) == want
        # Pieces of any length, the bits of a block carried across them, and
        # a summary between pieces that leaves the running one as it was.
        t = lumbra.Tester(n, statistics, threads=rng.randint(0, 3))
        at = 0
        while at < len(data):
            piece = rng.choice([0, 1, rng.randint(1, 3 * n), rng.randint(1, 70000)])
            t.update(data[at:at + piece])
            at += piece
            if rng.random() < 0.2:
                t.summary()
        assert t.bytes == len(data)
        assert t.summary() == want
        # Slices cut anywhere, merged in any order, as dicts or JSON text.
        blocks = want["blocks"]
        cuts = sorted(rng.sample(range(1, blocks), min(blocks - 1, rng.randint(0, 4)))) if blocks > 1 else []
        bounds = [0, *cuts, blocks]
        parts = [lumbra.test_file(path, n, statistics=statistics, first_block=a, block_count=b - a)
                 for a, b in zip(bounds, bounds[1:]) if b > a]
        rng.shuffle(parts)
        if parts:
            texts = [p if rng.random() < 0.5 else json.dumps(p) for p in parts]
            assert lumbra.merge(texts) == want


def test_bytes_of_arrays_in_memory_order(tmp_path):
    np = pytest.importorskip("numpy")
    data = rng.randbytes(3 * 4096)
    want = lumbra.test_file(written(tmp_path, data), 256)
    words = np.frombuffer(data, dtype=np.uint32).reshape(48, 64)
    assert lumbra.test_bytes(words, 256) == want
    assert lumbra.test_bytes(np.asfortranarray(words.T), 256) == want  # the same bytes in memory
    with pytest.raises(TypeError, match="contiguous"):
        lumbra.test_bytes(words[:, ::2], 256)
    with pytest.raises(TypeError, match="not str"):
        lumbra.test_bytes("0101", 256)


def test_merge_refuses_what_merge_refuses(kit, tmp_path):
    path = written(tmp_path, rng.randbytes(2000))
    a = lumbra.test_file(path, 100, first_block=0, block_count=80)
    b = lumbra.test_file(path, 100, first_block=80)
    no_ones = dict(b, tests={k: v for k, v in b["tests"].items() if k != "ones"})
    liar = json.loads(json.dumps(b))
    liar["tests"]["deviation"]["passing"] = 0
    for summaries in ([a, no_ones], [a, liar], [a, a], [a, dict(b, block_size=64)]):
        files = []
        for i, s in enumerate(summaries):
            files.append(tmp_path / f"summaries[{i}]")
            files[-1].write_text(json.dumps(s))
        said = kit("merge", *files, status=2).strip().removeprefix("lumbra-kit: ").replace(str(tmp_path) + "/", "")
        with pytest.raises(lumbra.InputError) as e:
            lumbra.merge(summaries)
        assert str(e.value) == said
