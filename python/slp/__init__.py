"""Loads SLP files (plain-text faceted solids) into a tree of named groups holding coloured meshes.

    >>> import slp
    >>> model = slp.load("examples/desk_lamp.slp")
    >>> for path, mesh in model.meshes():
    ...     print("/".join(path), mesh.triangle_count)
    desk_lamp/base 96
    desk_lamp/arm 12
    ...

Each solid of the file becomes a Group (nested solids are child groups); each run of facets between
"solid", "endsolid", "color" and the end of the file becomes a Mesh of the innermost open solid, with
the colour in force. A mesh's positions and normals are numpy float32 arrays of shape
(triangle_count, 3, 3) that view the loaded model's memory without a copy.

slp.load also takes a pathlib.Path, a file's content (bytes, bytearray, memoryview) or a binary file
object, and the threads a load may use (threads=0, the default, lets the loader choose).
slp.check(path) lists what a load loses or reads differently from how the file looks, and
slp.export(model, path) writes glTF, OBJ, PLY or STL. import slp.meshio teaches meshio the .slp
extension.
"""

import io as _io
import operator as _operator
import os as _os
import signal as _signal
import stat as _stat
import threading as _threading
import warnings as _warnings
from dataclasses import dataclass as _dataclass
from dataclasses import field as _field

try:
    import fcntl as _fcntl
except ImportError:  # Windows
    _fcntl = None

from . import _slp
from ._slp import Box, Group, Mesh, Model

__version__ = _slp.__version__
__all__ = [
    "Box",
    "CheckReport",
    "DroppedGeometryWarning",
    "ExportReport",
    "Finding",
    "FormatError",
    "Group",
    "Mesh",
    "Model",
    "check",
    "export",
    "load",
]


class FormatError(ValueError):
    """The file was read but holds no SLP model: it is empty, binary, or has no solid.

    filename is the path as given, reason the cause in plain words ("empty file", "binary data, not
    SLP text", "no solid in the file").
    """

    def __init__(self, filename, reason: str):
        super().__init__(f"{_os.fsdecode(filename)}: {reason}")
        self.filename = filename
        self.reason = reason


class DroppedGeometryWarning(UserWarning):
    """Warned by slp.load when the load dropped vertices (runs whose normals and vertices do not pair
    up, facets outside a solid), as the slp program warns on its standard error.

    filename is the path as given, vertices the number of vertices dropped (Model.discarded_vertices).
    slp.check(filename) says where and why. The warnings module filters it as any other:
    warnings.simplefilter("error", slp.DroppedGeometryWarning) makes it an exception.
    """

    def __init__(self, filename, vertices: int):
        what = "1 vertex was" if vertices == 1 else f"{vertices} vertices were"
        name = _os.fsdecode(filename)
        super().__init__(f"{name}: {what} dropped by the load (slp check {name} shows where and why)")
        self.filename = filename
        self.vertices = vertices


def _native_path(path) -> bytes:
    """The path as the system takes it, refused as open() refuses it."""
    if not isinstance(path, (str, bytes, _os.PathLike)):
        raise TypeError(f"expected a path (str, bytes or os.PathLike), not {type(path).__name__}")
    native = _os.fsencode(path)
    if b"\0" in native:
        raise ValueError("embedded null byte")
    if not native:
        raise FileNotFoundError(2, _os.strerror(2), path)
    return native


def _raise_os_error(error: int, path, reason: str = ""):
    # OSError(errno, ...) is made as its subclass for that errno: FileNotFoundError, PermissionError,
    # IsADirectoryError, ...; its message is the system's, or the cause in plain words when there is one.
    raise OSError(error, reason or _os.strerror(error), path)


# The block a feeder thread writes into the pipe that a load from memory or from a Python stream reads.
_FEED_BLOCK = 1 << 20


def _feed(writer: int, blocks, failures: list):
    """Writes the blocks into the pipe's end writer, then closes it. A failure to get a block is kept in
    failures; a load that stopped reading (a closed pipe) ends the feed quietly."""
    try:
        # Signals go to the loading thread, whose wait for data they interrupt.
        _signal.pthread_sigmask(_signal.SIG_BLOCK, _signal.valid_signals())
        for block in blocks:
            view = memoryview(block).cast("B")
            while view:
                view = view[_os.write(writer, view):]
    except BrokenPipeError:
        pass
    except BaseException as error:  # noqa: B036 (handed to the loading thread)
        failures.append(error)
    finally:
        _os.close(writer)


def _load_fed(blocks, size: int, progress, name):
    """Loads what a thread writes into a pipe, block by block: nothing is written to disk, and the
    content is not copied whole. size: the number of bytes to come, or -1 when unknown."""
    if _os.name == "nt":
        raise NotImplementedError("slp.load reads memory and Python streams through /dev/fd, which Windows lacks")
    reader, writer = _os.pipe()
    try:
        _fcntl.fcntl(writer, _fcntl.F_SETPIPE_SZ, _FEED_BLOCK)
    except (AttributeError, OSError):
        pass  # the system's pipe size then
    failures = []
    feeder = _threading.Thread(target=_feed, args=(writer, blocks, failures), name="slp.load feeder", daemon=True)
    feeder.start()
    try:
        result = _slp.load(_os.fsencode(f"/dev/fd/{reader}"), progress, size)
    finally:
        # The feeder ends at its next write once no reader is left; a load that failed does not wait.
        _os.close(reader)
    feeder.join()
    if failures:
        raise failures[0]
    return _model_or_raise(result, name)


def _source_name(source):
    """What errors and warnings call the source: its path, a stream's name, or what it is."""
    if isinstance(source, (bytes, bytearray, memoryview)):
        return "<bytes>"
    if hasattr(source, "read"):
        name = getattr(source, "name", None)
        return name if isinstance(name, (str, bytes, _os.PathLike)) else "<stream>"
    return source


def _model_or_raise(result, name) -> Model:
    if isinstance(result, tuple):
        error, reason = result
        if error:
            _raise_os_error(error, name, reason)
        raise FormatError(name, reason)
    return result


def _file_descriptor(stream):
    """The descriptor to load a binary file object through, when the system can read it there as the
    object would: a file at its start, or an unbuffered stream. None otherwise."""
    raw = stream.raw if isinstance(stream, (_io.BufferedReader, _io.BufferedRandom)) else stream
    if not isinstance(raw, _io.FileIO) or _os.name == "nt":
        return None
    descriptor = raw.fileno()
    if _stat.S_ISREG(_os.fstat(descriptor).st_mode):
        return descriptor if stream.tell() == 0 else None
    return descriptor if raw is stream else None  # a buffered stream may hold what it read ahead


def _load_stream(stream, progress, threads):
    if isinstance(stream, _io.TextIOBase):
        raise TypeError("slp.load needs a binary file object (open the file with 'rb')")
    name = _source_name(stream)
    descriptor = _file_descriptor(stream)
    if descriptor is not None:
        model = _model_or_raise(_slp.load(_os.fsencode(f"/dev/fd/{descriptor}"), progress, threads=threads), name)
        if stream.seekable():
            stream.seek(0, _os.SEEK_END)  # read to its end, as by the pipe
        return model
    size = -1
    if getattr(stream, "seekable", lambda: False)():
        here = stream.tell()
        size = stream.seek(0, _os.SEEK_END) - here
        stream.seek(here)
    return _load_fed(iter(lambda: stream.read(_FEED_BLOCK), b""), size, progress, name)


def load(source, progress=None, *, threads: int = 0) -> Model:
    """Loads an SLP file and returns its Model.

    source: the file's name, a str or os.PathLike (a pathlib.Path), of SLP text or of gzipped SLP text
        (told by its first bytes, not its name); or the content of a file, bytes, a bytearray or a
        memoryview, loaded as the file would be (bytes in place; other buffers, which could change
        during the load, from a copy; gzipped content streamed as below); or a binary file object
        (open(name, "rb"), io.BytesIO, a socket's makefile("rb"), a gzip.open: anything with a
        read(size) that returns bytes, b"" at the end), read from its current position to its end. A
        file object over a real file at its start is read by the system as the file itself; any other
        is read a block at a time by a thread that feeds a pipe, so nothing is copied whole and nothing
        is written to disk.
    progress: None, or a callable taking one int: the percentage points the load gained since the
        previous call, so that the calls add up to 100 when the load succeeds (a tqdm bar's update
        fits: slp.load(path, progress=bar.update) with tqdm(total=100)). It is called from the loading
        thread with the GIL held. When it raises, the load stops at its next block read (content in
        memory: its next progress step) and load raises that exception. A stream of unknown size
        reports only its end.
    threads: the threads a load of a file or of content in memory may use, the loading thread among
        them: 0 (the default) lets the loader choose (as many as the processor has, for inputs of
        32 MiB and more), 1 loads on the loading thread alone. The model, the progress and every
        failure are the same whatever the count. Streams (pipes, gzipped data, file objects that are
        not a real file at its start) are read on the loading thread.

    The file is read with the GIL released, so other threads run meanwhile. Signal handlers run at
    every block read and progress step, and also while a read waits for data (a pipe, a slow network
    file): Ctrl-C stops a load with KeyboardInterrupt, as does any exception a handler raises. Binary
    input is refused at its first block, so a device such as /dev/zero is not read forever.

    When the load dropped vertices (runs whose normals and vertices do not pair up, facets outside a
    solid), a DroppedGeometryWarning says how many, as the slp program does; the model's
    discarded_vertices gives the count too, and slp.check(path) says where and why.

    Raises FileNotFoundError when the file does not exist, PermissionError when it may not be read,
    another OSError when it cannot be opened or a read fails part way (the cause's errno and message:
    EIO for a failing disk, EILSEQ with "corrupt gzip data" for gzipped data that is corrupt or cut),
    FormatError (a ValueError) when it is empty, binary or has no solid,
    ValueError for a path with a NUL byte or a negative threads, TypeError for a progress that is not
    callable, a threads that is not an int or a text file object, and what a file object's read raises.
    """
    if progress is not None and not callable(progress):
        raise TypeError(f"progress must be callable or None, not {type(progress).__name__}")
    threads = _operator.index(threads)
    if threads < 0:
        raise ValueError(f"threads must be 0 (the loader chooses) or more, not {threads}")
    model = _load_source(source, progress, min(threads, _MAX_THREADS))
    if model.discarded_vertices:
        _warnings.warn(DroppedGeometryWarning(_source_name(source), model.discarded_vertices), stacklevel=2)
    return model


# The loader uses at most 64 threads: a larger count, which a C int may not hold, means as many as it uses.
_MAX_THREADS = 1024


def _load_source(source, progress, threads) -> Model:
    if isinstance(source, (bytes, bytearray, memoryview)):
        content = memoryview(source)
        if not content.c_contiguous:
            content = memoryview(content.tobytes())
        content = content.cast("B")
        # In place only bytes, which nothing changes while the load runs without the GIL.
        copy = not isinstance(content.obj, bytes)
        if len(content) < 4096 and b"\n" not in content and b"\0" not in content and _os.path.exists(bytes(content)):
            raise TypeError(f"slp.load takes bytes as a file's content; give the path {bytes(content)!r} as a "
                            "str or a pathlib.Path (os.fsdecode)")
        if content[:2] == b"\x1f\x8b":  # gzipped: the file reader inflates it as it reads
            blocks = (content[at:at + _FEED_BLOCK] for at in range(0, len(content), _FEED_BLOCK))
            return _load_fed(blocks, len(content), progress, "<bytes>")
        return _model_or_raise(_slp.load_buffer(content, progress, copy, threads), "<bytes>")
    if hasattr(source, "read"):
        return _load_stream(source, progress, threads)
    return _model_or_raise(_slp.load(_native_path(source), progress, threads=threads), source)


@_dataclass(frozen=True)
class Finding:
    """One problem slp.check found: where it is (line from 1, column in bytes from 1), its severity
    ("error": the load loses geometry; "warning": the load reads the text differently from how it
    looks), its stable code (such as "run-discarded"), a sentence about it, and whether `slp fix`
    repairs it (a run the load drops, facets outside any solid, a solid left open)."""

    line: int
    column: int
    severity: str
    code: str
    message: str
    fixable: bool = False

    def __str__(self):
        return f"{self.line}:{self.column}: {self.severity}: {self.message} [{self.code}]"


@_dataclass
class CheckReport:
    """What slp.check found: the findings, in file order (up to max_findings; errors and warnings
    count them all), and the loader's counts for the file."""

    findings: list = _field(default_factory=list)
    errors: int = 0
    warnings: int = 0
    solids: int = 0
    meshes: int = 0
    triangles: int = 0
    lost_vertices: int = 0
    lost_triangles: int = 0
    bytes: int = 0


def check(path, max_findings: int = 10000) -> CheckReport:
    """Checks an SLP file as `slp check` does and returns a CheckReport.

    path: the file's name, a str, bytes or os.PathLike.
    max_findings: the most findings kept in the report; the counts include the ones left out.

    The loader is lenient: it reports no syntax error and drops runs of facets it cannot use. The check
    walks the file as the loader does and says where and why. A file that is not SLP text is reported
    (the "no-solid" error), not raised. The file is read with the GIL released; signal handlers run
    as during slp.load, so Ctrl-C stops a check.

    Raises FileNotFoundError, PermissionError or another OSError when the file cannot be opened or
    read, and ValueError for a path with a NUL byte or a negative max_findings.
    """
    if max_findings < 0:
        raise ValueError("max_findings must be 0 or more")
    native = _native_path(path)
    error, findings, counts = _slp.check(native, max_findings)
    if error:
        _raise_os_error(error, path)
    return CheckReport([Finding(*finding) for finding in findings], **counts)


@_dataclass
class ExportReport:
    """What slp.export wrote: the format, the files (the output, then its .bin or .mtl companion if
    any), and the counts after merging shared vertices; clamped_colors, skipped_triangles and
    replaced_normals count what the format could not hold as it was (see the README)."""

    format: str
    files: list
    groups: int
    meshes: int
    triangles: int
    vertices: int
    clamped_colors: int
    skipped_triangles: int
    replaced_normals: int


def export(model: Model, path, format: "str | None" = None) -> ExportReport:
    """Writes a loaded model to a file through the project's writers and returns an ExportReport.

    model: a Model that slp.load returned.
    path: the output file's name, a str, bytes or os.PathLike. It is replaced only once the whole
        output is written; a failure leaves what was there before.
    format: "glb", "gltf", "obj", "ply", "slp" or "stl"; None takes it from path's extension. SLP
        output loads back as the same model (names, groups, meshes, colours and every float).

    Raises ValueError for an unknown format or a model too large for the format, TypeError for a
    format that is not a str, and OSError, with the writer's message, when the output cannot be
    written. The GIL is released while writing.
    """
    if format is not None and not isinstance(format, str):
        raise TypeError(f"format must be a str or None, not {type(format).__name__}")
    native = _native_path(path)
    result, message, counts = _slp.export(model, native, format)
    if result == "unknown-format":
        named = f"format {format!r}" if format is not None else f"the extension of {_os.fsdecode(path)!r}"
        raise ValueError(f"{named} names no format this library writes (glb, gltf, obj, ply, slp, stl)")
    if result == "too-large":
        raise ValueError(_os.fsdecode(message))
    if result != "success":
        raise OSError(_os.fsdecode(message))
    counts["files"] = [_os.fsdecode(name) for name in counts["files"]]
    return ExportReport(**counts)
