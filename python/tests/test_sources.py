"""What slp.load reads besides a path: a pathlib.Path, a file's content in memory, and file objects of
every kind; and how the model shows itself (reprs, numbers, boxes of groups)."""

import gzip
import io
import os
import threading
import warnings

import numpy as np
import pytest
from conftest import FILES, SAMPLE

import slp


def summary(model):
    meshes = [(path, mesh.color, mesh.positions.tobytes(), mesh.normals.tobytes()) for path, mesh in model.meshes()]
    return [group.name for group in model.groups], meshes


class Trickle:
    """A stream with only a read, which gives a few bytes at a time, then fails if told to."""

    def __init__(self, data, fail_at=None):
        self.data, self.at, self.fail_at = data, 0, fail_at

    def read(self, size):
        if self.fail_at is not None and self.at >= self.fail_at:
            raise ConnectionResetError("the peer went away")
        self.at += min(size, 7777)
        return self.data[self.at - min(size, 7777):self.at]


def test_every_source_loads_the_same_model(tmp_path):
    data = SAMPLE.read_bytes()
    expected = summary(slp.load(str(SAMPLE)))
    (tmp_path / "lamp.slp.gz").write_bytes(gzip.compress(data))
    skipped = b"solid skipped endsolid\n"  # a line read before the load
    (tmp_path / "after.slp").write_bytes(skipped + data)
    reader, writer = os.pipe()
    feeder = threading.Thread(target=lambda: (os.write(writer, skipped + data), os.close(writer)))
    feeder.start()
    with open(SAMPLE, "rb") as buffered, open(SAMPLE, "rb", buffering=0) as raw, \
            gzip.open(tmp_path / "lamp.slp.gz") as unzipped, open(tmp_path / "after.slp", "rb") as after, \
            open(reader, "rb") as piped:
        after.readline()
        piped.readline()  # and the rest is in the buffer: read it from there
        sources = [SAMPLE, data, bytearray(data), memoryview(data), buffered, raw, unzipped, after, piped,
                   io.BytesIO(data), Trickle(data)]
        for source in sources:
            assert summary(slp.load(source)) == expected, source
        assert buffered.tell() == len(data)  # read to its end, as any stream
    feeder.join()
    with pytest.raises(ConnectionResetError):  # not a model cut short
        slp.load(Trickle(data, fail_at=50_000))
    with pytest.raises(slp.FormatError, match="<bytes>: binary data"):
        slp.load(bytes(range(256)) * 10_000)
    with pytest.raises(TypeError, match="binary file object"):
        slp.load(open(SAMPLE))
    with pytest.raises(TypeError, match="as a str or a pathlib.Path"):
        slp.load(str(SAMPLE).encode())


def test_content_in_memory_loads_as_its_file(tmp_path, large_file):
    facet = b"facet outer loop" + b" normal 0 0 1 vertex 0 0 0" * 3 + b" endloop endfacet\n"
    cases = {"empty": b"", "no_solid": b"hello\n", "nul_before_solid": b"junk\0 solid c\n" + facet,
             "dropped": b"solid s\n" + facet + b"vertex 1 1 1\n"}
    for name, data in cases.items():
        (tmp_path / f"{name}.slp").write_bytes(data)

    def outcome(source):
        steps = []
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            try:
                model = slp.load(source, progress=steps.append)
            except slp.FormatError as error:
                return error.reason, steps
        return summary(model), [warning.message.vertices for warning in caught], steps

    for path in [*FILES, large_file, *sorted(tmp_path.glob("*.slp"))]:
        data = path.read_bytes()
        expected = outcome(path)
        for content in (data, bytearray(data), memoryview(data)[:]):
            assert outcome(content) == expected, path.name


def test_reprs_and_numbers_read_as_the_file_writes_them(tmp_path):
    path = tmp_path / "one.slp"
    facet = "normal 0 0 1 vertex 0 0 0 normal 0 0 1 vertex 0.1 0 0 normal 0 0 1 vertex 0 0.7 0\n"
    path.write_text(f"solid one\ncolor 0.28 0.1 1e-3\n{facet}endsolid\nsolid two\nsolid a\n{facet * 2}endsolid\n"
                    "color 1 1 1\nsolid b\nendsolid\nendsolid\n")
    model = slp.load(path)
    one, two = model.groups
    mesh = one.meshes[0]
    assert repr(mesh) == "<slp.Mesh 1 triangle, color (0.28, 0.1, 0.001, 1.0)>"
    assert repr(two.groups[0].meshes[0]).startswith("<slp.Mesh 2 triangles,")
    assert repr(one) == "<slp.Group 'one', 0 groups, 1 mesh>" and repr(two) == "<slp.Group 'two', 2 groups, 0 meshes>"
    assert repr(model) == "<slp.Model 2 groups, box Box(min=(0.0, 0.0, 0.0), max=(0.1, 0.7, 0.0))>"
    assert np.float32(mesh.color).tolist() == np.float32([0.28, 0.1, 0.001, 1]).tolist()
    assert [name for name in dir(slp) if not name.startswith("_") and name not in slp.__all__] in ([], ["meshio"])


def test_a_group_box_covers_the_groups_below(tmp_path):
    facet = "normal 0 0 1 vertex {0} 0 0 normal 0 0 1 vertex 0 {0} 0 normal 0 0 1 vertex 0 0 {0}\n"
    path = tmp_path / "nested.slp"
    path.write_text(f"solid outer\n{facet.format(1)}solid inner\n{facet.format(-2)}solid deepest\n"
                    f"{facet.format(5)}endsolid\nendsolid\nsolid bare\nendsolid\nendsolid\n")
    model = slp.load(path)
    [outer] = model.groups
    inner, bare = outer.groups
    assert outer.box == model.box == model.root.box == ((-2, -2, -2), (5, 5, 5))
    assert inner.box == ((-2, -2, -2), (5, 5, 5)) and inner.groups[0].box == ((0, 0, 0), (5, 5, 5))
    assert bare.box is None
