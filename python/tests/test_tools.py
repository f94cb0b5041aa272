"""slp.check and slp.export against the native program: the same findings, the same bytes."""

import dataclasses
import subprocess

import pytest
from conftest import FILES, SAMPLE

import slp


@pytest.mark.parametrize("path", FILES, ids=lambda path: path.name)
def test_check_finds_what_the_program_finds(path, slp_json):
    expected = slp_json("check", "--json", path)
    report = slp.check(path)
    assert [dataclasses.asdict(finding) for finding in report.findings] == expected["findings"]
    counts = {name: value for name, value in dataclasses.asdict(report).items() if name != "findings"}
    assert counts == {name: expected[name] for name in counts}


def test_export_writes_what_the_program_writes(tmp_path, slp_program):
    model = slp.load(SAMPLE)
    for extension in ("glb", "gltf", "obj", "ply", "stl"):
        ours, theirs = tmp_path / "ours" / f"lamp.{extension}", tmp_path / "theirs" / f"lamp.{extension}"
        ours.parent.mkdir(exist_ok=True)
        theirs.parent.mkdir(exist_ok=True)
        report = slp.export(model, ours)
        subprocess.run([slp_program, "convert", "-q", SAMPLE, theirs], check=True, capture_output=True)
        assert report.format == extension and report.files[0] == str(ours)
        assert ours.read_bytes() == theirs.read_bytes()
    assert slp.export(model, tmp_path / "lamp.bin", format="STL").triangles == 428


def test_export_failures_raise(tmp_path):
    model = slp.load(SAMPLE)
    with pytest.raises(ValueError, match="no format"):
        slp.export(model, tmp_path / "lamp.txt")
    with pytest.raises(ValueError, match="no format"):
        slp.export(model, tmp_path / "lamp.stl", format="step")
    with pytest.raises(OSError, match="cannot create .*No such file or directory"):
        slp.export(model, tmp_path / "missing" / "lamp.stl")
