"""The progress callable, the GIL and the load's threads."""

import os
import threading
import time

import pytest
from conftest import summary

import slp


def test_progress_adds_up_to_100_and_stops_a_load_when_it_raises(large_file):
    steps = []
    slp.load(large_file, progress=steps.append)
    assert sum(steps) == 100 and min(steps) > 0 and len(steps) > 10
    with pytest.raises(TypeError):
        slp.load(large_file, progress=100)
    with pytest.raises(FileNotFoundError):
        slp.load(large_file.with_name("missing.slp"), progress=steps.append)
    assert sum(steps) == 100  # nothing for a load that failed

    class Cancelled(Exception):
        pass

    def cancel(step):
        calls.append(step)
        raise Cancelled

    for source in (large_file, large_file.read_bytes()):
        calls = []
        with pytest.raises(Cancelled):
            slp.load(source, progress=cancel)
        assert len(calls) == 1  # not called again once it raised


def test_other_threads_run_during_a_load(large_file):
    window, ticks = [], []  # the load's start, model and end; the other thread's ticks
    loader = threading.Thread(target=lambda: window.extend([time.perf_counter(), slp.load(large_file, threads=1),
                                                          time.perf_counter()]))
    loader.start()
    while loader.is_alive():
        ticks.append(time.perf_counter())
        time.sleep(0.001)  # each tick needs the GIL back, which a load holding it would keep
    loader.join()
    assert sum(window[0] < tick < window[2] for tick in ticks) >= 10


def test_threads_load_what_one_thread_loads(tmp_path):
    facet = "facet outer loop" + " normal 0 0 1 vertex {0} {1} 0.5" * 3 + " endloop endfacet\n"
    path = tmp_path / "solids.slp"
    path.write_text("".join(f"solid s{k}\ncolor 0.{k} 0.5 1\n" + "".join(facet.format(k, i) for i in range(4000))
                            + "endsolid\n" for k in range(8)))  # 4 MB, eight pieces

    def outcome(threads):
        steps, tasks = [], []
        model = slp.load(path, progress=lambda step: (steps.append(step), tasks.append(len(os.listdir("/proc/self/task")))),
                         threads=threads)
        return summary(model), steps, max(tasks)

    one, two = outcome(1), outcome(2)
    assert two[:2] == one[:2] and two[2] > one[2]  # the same, and a second thread read ahead
    with pytest.raises(ValueError):
        slp.load(path, threads=-1)
