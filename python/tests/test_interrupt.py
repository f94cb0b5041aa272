"""Loads and checks that must end early: a signal while they wait or stream, binary input, a read that
fails part way, and the warning for dropped geometry."""

import contextlib
import os
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest
from conftest import ROOT

import slp

FACET = "facet outer loop" + " normal 0 0 1 vertex 0 0 0" * 3 + " endloop endfacet\n"


def run_python(code, timeout=60, **env):
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=timeout,
                          env={**os.environ, **env})
    return done.stdout, done.stderr


@pytest.mark.parametrize("operation", ["load", "check"])
def test_sigint_stops_a_wait_on_a_fifo(tmp_path, operation):
    fifo = tmp_path / "fifo.slp"
    os.mkfifo(fifo)
    writer = os.open(fifo, os.O_RDWR)  # a writer that never writes: reads wait
    code = f"""if True:
        import os, slp
        before = sorted(os.listdir("/proc/self/fd"))
        print("ready", flush=True)
        try:
            slp.{operation}({str(fifo)!r})
        except KeyboardInterrupt:
            print("interrupted", sorted(os.listdir("/proc/self/fd")) == before)"""
    child = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline() == "ready\n"
        deadline = time.monotonic() + 10
        while not Path(f"/proc/{child.pid}/wchan").read_text().endswith("pipe_read") and time.monotonic() < deadline:
            time.sleep(0.02)
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=30)
    finally:
        child.kill()
        os.close(writer)
    assert out == "interrupted True\n", err


@pytest.mark.parametrize("operation", [slp.load, slp.check])
def test_a_signal_handler_stops_an_endless_stream(operation):
    reader, writer = os.pipe()

    def feed():  # for 30 s, should the load not stop; the signal may come to this thread
        deadline, chunk = time.monotonic() + 30, (FACET * 2000).encode()
        with contextlib.suppress(BrokenPipeError):
            while time.monotonic() < deadline:
                os.write(writer, chunk)
        os.close(writer)

    def time_up(signum, frame):
        raise TimeoutError

    feeder = threading.Thread(target=feed)
    feeder.start()
    previous = signal.signal(signal.SIGALRM, time_up)
    signal.setitimer(signal.ITIMER_REAL, 0.3)
    try:
        with pytest.raises(TimeoutError):
            operation(f"/dev/fd/{reader}")
        assert feeder.is_alive()  # stopped by the signal, not by the end of the stream
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
        os.close(reader)
        feeder.join()


def test_endless_binary_input_is_refused_at_once():
    out, err = run_python("""if True:
        import slp
        try:
            slp.load("/dev/zero")
        except slp.FormatError as error:
            print(error.reason)
        print(slp.check("/dev/zero").findings[0])""")
    assert out == "binary data, not SLP text\n1:1: error: binary data, not SLP text, so a load of it fails [no-solid]\n", err


def test_a_read_failing_part_way_raises_eio(tmp_path):
    shim = ROOT / "build" / "release" / "tests" / "tools" / "libslp_failing_read_shim.so"
    if not shim.exists():
        pytest.fail(f"no read-failure shim at {shim}: cmake --build --preset release --target slp_failing_read_shim")
    path = tmp_path / "failing.slp"
    path.write_text("solid s\n" + FACET * 20_000 + "endsolid\n")  # 2.6 MB, ten blocks
    out, err = run_python(f"""if True:
        import slp
        for operation in (slp.load, slp.check):
            try:
                operation({str(path)!r})
            except OSError as error:
                print(type(error).__name__, error.errno, error.strerror, error.filename == {str(path)!r})""",
                          LD_PRELOAD=str(shim), SLP_TEST_FAIL_READS_OF=path.name, SLP_TEST_FAIL_READS_AT="1000000")
    assert out == "OSError 5 Input/output error True\n" * 2, err


def test_dropped_vertices_are_warned_with_their_count(tmp_path):
    path = tmp_path / "dropped.slp"
    for count, words in ((1, "1 vertex was"), (2, "2 vertices were")):
        path.write_text("solid s\n" + FACET + "normal 0 0 1 vertex 0 0 0\n" * count + "endsolid\n")
        with pytest.warns(slp.DroppedGeometryWarning) as caught:
            model = slp.load(path)
        [warning] = caught
        assert model.discarded_vertices == warning.message.vertices == count
        assert str(warning.message) == f"{path}: {words} dropped by the load (slp check {path} shows where and why)"
        assert warning.filename == __file__  # points at the caller
        with pytest.warns(slp.DroppedGeometryWarning, match="<bytes>: ") as caught:
            slp.load(path.read_bytes())
        assert caught[0].filename == __file__
