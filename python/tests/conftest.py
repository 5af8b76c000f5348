"""What the tests share: the lumbra-kit that was built with the module."""
import json
import os
import subprocess

import pytest


@pytest.fixture(scope="session")
def kit():
    """Runs lumbra-kit with the given arguments; returns its stdout."""
    path = os.environ.get("LUMBRA_KIT")
    if not path:
        pytest.fail("LUMBRA_KIT names no lumbra-kit (the tests run through ctest)")

    def run(*args, status=0):
        p = subprocess.run([path, *map(str, args)], capture_output=True, text=True, check=False)
        assert p.returncode == status, p.stderr
        return p.stdout if status == 0 else p.stderr

    run.json_lines = lambda *args: [json.loads(line) for line in run(*args).splitlines()]
    return run
