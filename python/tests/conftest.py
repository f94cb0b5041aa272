"""Fixtures of the Python package's tests: the repository's SLP files, the slp program that the package
is compared with, and a file large enough to show a load's progress."""

import json
import os
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
SAMPLE = ROOT / "examples" / "desk_lamp.slp"
FILES = [SAMPLE] + sorted((ROOT / "tests" / "data").glob("*.slp"))
FACET = "facet outer loop" + " normal 0 0 1 vertex 0 0 0" * 3 + " endloop endfacet\n"


def summary(model):
    """All a model holds: its solids' names, and every mesh's path, colour and triangles."""
    meshes = [(path, mesh.color, mesh.positions.tobytes(), mesh.normals.tobytes()) for path, mesh in model.meshes()]
    return [group.name for group in model.groups], meshes


@pytest.fixture(scope="session")
def slp_program():
    """Runs the slp program with the arguments: the CompletedProcess, or with --json what it printed."""
    program = Path(os.environ.get("SLP_PROGRAM", ROOT / "build" / "release" / "tools" / "slp"))
    if not program.exists():
        pytest.fail(f"no slp program at {program}: cmake --build --preset release --target slp_cli, or set SLP_PROGRAM")

    def run(*arguments):
        done = subprocess.run([program, *map(str, arguments)], capture_output=True, text=True)
        assert done.returncode in (0, 1), done.stderr
        return json.loads(done.stdout) if "--json" in arguments else done

    return run


@pytest.fixture(scope="session")
def large_file(tmp_path_factory):
    """150,000 facets in one solid (45 MB)."""
    corner = "      normal 0.000000 0.000000 1.000000\n      vertex {0}.500000 2.250000 3.125000\n"
    facet = "  facet\n    outer loop\n" + "".join(corner.format(k) for k in range(3)) + "    endloop\n  endfacet\n"
    path = tmp_path_factory.mktemp("large") / "large.slp"
    path.write_text("solid large\n  color 0.5 0.25 1\n" + facet * 150_000 + "endsolid large\n")
    return path
