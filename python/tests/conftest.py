"""Fixtures of the Python package's tests: the repository's SLP files, the native slp program that the
loaded models are compared with, and a file large enough to show a load's progress and its threads."""

import json
import os
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
SAMPLE = ROOT / "examples" / "desk_lamp.slp"
FILES = [SAMPLE] + sorted((ROOT / "tests" / "data").glob("*.slp"))


@pytest.fixture(scope="session")
def slp_program():
    program = Path(os.environ.get("SLP_PROGRAM", ROOT / "build" / "release" / "tools" / "slp"))
    if not program.exists():
        pytest.fail(f"no slp program at {program}: build it (cmake --preset release && cmake --build "
                    "--preset release --target slp_cli) or name it in SLP_PROGRAM")
    return program


@pytest.fixture(scope="session")
def slp_json(slp_program):
    """Runs the slp program with --json arguments and returns what it printed."""

    def run(*arguments):
        done = subprocess.run([slp_program, *map(str, arguments)], capture_output=True, text=True)
        assert done.returncode in (0, 1), done.stderr
        return json.loads(done.stdout)

    return run


@pytest.fixture(scope="session")
def large_file(tmp_path_factory):
    """150,000 facets in one solid (45 MB): about a tenth of a second to load."""
    corner = "      normal 0.000000 0.000000 1.000000\n      vertex {0}.500000 2.250000 3.125000\n"
    facet = "  facet\n    outer loop\n" + "".join(corner.format(k) for k in range(3)) + "    endloop\n  endfacet\n"
    path = tmp_path_factory.mktemp("large") / "large.slp"
    path.write_text("solid large\n  color 0.5 0.25 1\n" + facet * 150_000 + "endsolid large\n")
    return path
