"""Loads and checks that must end early: a signal while they wait or stream, binary input, a read that
fails part way; and the warning for dropped geometry."""

import os
import signal
import subprocess
import sys
import threading

import pytest
from conftest import FACET, ROOT

import slp


@pytest.mark.parametrize("operation", [slp.load, slp.check])
def test_a_signal_handler_stops_a_wait_and_an_endless_stream(operation):
    silent = subprocess.Popen(["sleep", "60"], stdout=subprocess.PIPE)  # writes nothing: reads wait
    endless = subprocess.Popen(["yes", "normal 0 0 1 vertex 0 0 0"], stdout=subprocess.PIPE)
    watchdog = threading.Timer(20, lambda: (silent.kill(), endless.kill()))  # ends them, should the signal not

    def time_up(signum, frame):
        raise TimeoutError

    previous = signal.signal(signal.SIGALRM, time_up)
    watchdog.start()
    try:
        for writer in (silent, endless):
            descriptors = sorted(os.listdir("/proc/self/fd"))
            signal.setitimer(signal.ITIMER_REAL, 0.3)
            with pytest.raises(TimeoutError):
                operation(f"/dev/fd/{writer.stdout.fileno()}")
            assert sorted(os.listdir("/proc/self/fd")) == descriptors and writer.poll() is None
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
        watchdog.cancel()
        for writer in (silent, endless):
            writer.kill()
            writer.communicate()


def test_binary_input_and_a_read_failing_part_way_end_at_once(tmp_path):
    shim = ROOT / "build" / "release" / "tests" / "tools" / "libslp_failing_read_shim.so"
    if not shim.exists():
        pytest.fail(f"no read-failure shim at {shim}: cmake --build --preset release --target slp_failing_read_shim")
    path = tmp_path / "failing.slp"
    path.write_text("solid s\n" + FACET * 20_000 + "endsolid\n")  # 2.6 MB, ten blocks
    code = f"""if True:
        import slp
        for operation in (slp.load, slp.check):
            for path in ("/dev/zero", {str(path)!r}):  # endless binary input; a read that fails
                try:
                    print(operation(path).findings[0])
                except slp.FormatError as error:
                    print(error.reason)
                except OSError as error:
                    print(type(error).__name__, error.errno, error.strerror, error.filename == path)"""
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60,
                          env={**os.environ, "LD_PRELOAD": str(shim), "SLP_TEST_FAIL_READS_OF": path.name,
                               "SLP_TEST_FAIL_READS_AT": "1000000"})
    failed = "OSError 5 Input/output error True\n"
    assert done.stdout == ("binary data, not SLP text\n" + failed
                           + "1:1: error: binary data, not SLP text, so a load of it fails [no-solid]\n" + failed), done.stderr


def test_dropped_vertices_are_warned_with_their_count(tmp_path):
    path = tmp_path / "dropped.slp"
    for count, words in ((1, "1 vertex was"), (2, "2 vertices were")):
        path.write_text("solid s\n" + FACET + "normal 0 0 1 vertex 0 0 0\n" * count + "endsolid\n")
        for source, name in ((path, path), (path.read_bytes(), "<bytes>")):
            with pytest.warns(slp.DroppedGeometryWarning) as caught:
                slp.load(source)
            assert str(caught[0].message) == f"{name}: {words} dropped by the load (slp check {name} shows where and why)"
            assert caught[0].filename == __file__  # points at the caller
