"""slp.check and slp.export against the slp program: the same findings, counts and bytes."""

import dataclasses
import re
from pathlib import Path

import pytest
from conftest import FILES, SAMPLE

import slp


@pytest.mark.parametrize("path", FILES, ids=lambda path: path.name)
def test_check_finds_what_the_program_finds(path, slp_program):
    expected = slp_program("check", "--json", path)
    report = dataclasses.asdict(slp.check(path))
    assert report == {name: expected[name] for name in report}
    fewer = slp.check(path, max_findings=1)  # fewer findings kept, the same counts
    assert dataclasses.asdict(fewer) == {**report, "findings": report["findings"][:1]}


# Colours outside 0..1, normals without a direction and a NaN vertex: every count of a report.
ODD = """solid odd
color 2 0.5 -1
normal 0 0 0 vertex 0 0 0 normal 0 0 0 vertex 1 0 0 normal 0 0 0 vertex 0 1 0
normal 0 0 1 vertex nan 0 0 normal 0 0 1 vertex 1 0 0 normal 0 0 1 vertex 0 1 0
endsolid
"""
SUMMARY = re.compile(r": (\w+), (\d+) groups?, (\d+) meshe?s?, (\d+) triangles?, (\d+) vertices(?: \(with (.+)\))?\n")
WARNINGS = {"clamped_colors": "colours? outside", "skipped_triangles": "triangles? with infinite",
            "replaced_normals": "normals? without"}


def test_export_writes_and_counts_what_the_program_does(tmp_path, slp_program):
    (tmp_path / "odd.slp").write_text(ODD)
    ours, theirs = tmp_path / "ours", tmp_path / "theirs"
    ours.mkdir()
    theirs.mkdir()
    for source in (SAMPLE, tmp_path / "odd.slp"):
        model = slp.load(source)
        for extension in ("glb", "gltf", "obj", "ply", "stl", "slp"):
            report = slp.export(model, ours / f"out.{extension}")
            done = slp_program("convert", source, theirs / f"out.{extension}")
            name, *counts, companion = SUMMARY.search(done.stdout).groups()
            assert [report.format, report.groups, report.meshes, report.triangles, report.vertices] == [name, *map(int, counts)]
            for field, words in WARNINGS.items():
                found = re.search(rf"(\d+) \S* ?{words}", done.stderr)
                assert getattr(report, field) == (int(found.group(1)) if found else 0), (source.name, extension, field)
            assert report.files == [str(ours / f"out.{extension}")] + ([str(ours / Path(companion).name)] if companion else [])
            for file in report.files:
                assert Path(file).read_bytes() == (theirs / Path(file).name).read_bytes()
    assert slp.export(model, tmp_path / "odd.bin", format="STL").triangles == 2


def test_export_failures_raise(tmp_path):
    model = slp.load(SAMPLE)
    with pytest.raises(ValueError, match="no format"):
        slp.export(model, tmp_path / "lamp.txt")
    with pytest.raises(ValueError, match="no format"):
        slp.export(model, tmp_path / "lamp.stl", format="step")
    with pytest.raises(OSError, match="cannot create .*No such file or directory"):
        slp.export(model, tmp_path / "missing" / "lamp.stl")
    with pytest.raises(ValueError):
        slp.check(SAMPLE, max_findings=-1)
