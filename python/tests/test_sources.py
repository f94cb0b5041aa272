"""What slp.load reads besides a path: file objects of every kind, gzipped data, and a file's content in
memory, which loads as the file does."""

import errno
import gzip
import io
import subprocess
import warnings

import pytest
from conftest import FACET, FILES, SAMPLE, summary

import slp


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
    data, skipped = SAMPLE.read_bytes(), b"solid skipped endsolid\n"  # a line read before the load
    expected = summary(slp.load(str(SAMPLE)))
    packed = gzip.compress(data)
    (tmp_path / "packed.slp").write_bytes(packed)  # gzipped whatever its name
    (tmp_path / "after.slp").write_bytes(skipped + data)
    cat = subprocess.Popen(["cat", tmp_path / "after.slp"], stdout=subprocess.PIPE)
    with open(SAMPLE, "rb") as buffered, open(SAMPLE, "rb", buffering=0) as raw, cat.stdout as piped, \
            gzip.open(tmp_path / "packed.slp") as unzipped, open(tmp_path / "after.slp", "rb") as after:
        after.readline()
        piped.readline()  # and the rest is in the buffer: read from there
        for source in (SAMPLE, buffered, raw, piped, unzipped, after, io.BytesIO(data), Trickle(data),
                       tmp_path / "packed.slp", packed):
            assert summary(slp.load(source)) == expected, source
        assert buffered.tell() == len(data)  # read to its end, as any stream
    cat.wait()
    with pytest.raises(ConnectionResetError):  # not a model cut short
        slp.load(Trickle(data, fail_at=50_000))
    with pytest.raises(OSError, match="corrupt gzip data") as caught:
        slp.load(packed[:200])
    assert caught.value.errno == errno.EILSEQ
    with pytest.raises(slp.FormatError, match="<bytes>: binary data"):
        slp.load(bytes(range(256)) * 10_000)
    with pytest.raises(TypeError, match="binary file object"):
        slp.load(io.StringIO(data.decode()))
    with pytest.raises(TypeError, match="as a str or a pathlib.Path"):
        slp.load(str(SAMPLE).encode())


def test_content_in_memory_loads_as_its_file(tmp_path, large_file):
    (tmp_path / "nul.slp").write_text("junk\0 solid c\n" + FACET)  # binary, as its first block shows

    def outcome(source):
        steps = []
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            try:
                model = slp.load(source, progress=steps.append)
            except slp.FormatError as error:
                return error.reason, steps
        return summary(model), [warning.message.vertices for warning in caught], steps

    for path in [*FILES, large_file, tmp_path / "nul.slp"]:  # empty, no solid, dropped vertices among them
        data = path.read_bytes()
        expected = outcome(path)
        for content in (data, bytearray(data), memoryview(data)[:]):
            assert outcome(content) == expected, path.name
