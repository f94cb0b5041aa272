"""The progress callable and the GIL: a load reports to Python from its own thread and lets others run."""

import os
import threading
import time

import pytest

import slp
from test_sources import summary


def test_progress_adds_up_to_100(large_file):
    steps = []
    model = slp.load(large_file, progress=steps.append)
    assert sum(steps) == 100 and min(steps) > 0 and len(steps) > 10
    assert next(model.meshes())[1].triangle_count == 150_000
    with pytest.raises(TypeError):
        slp.load(large_file, progress=100)
    with pytest.raises(FileNotFoundError):
        slp.load(large_file.with_name("missing.slp"), progress=steps.append)
    assert sum(steps) == 100  # nothing for a load that failed


def test_exception_of_the_progress_callable_surfaces(large_file):
    class Cancelled(Exception):
        pass

    calls = []

    def cancel(step):
        calls.append(step)
        raise Cancelled

    with pytest.raises(Cancelled):
        slp.load(large_file, progress=cancel)
    assert len(calls) == 1  # not called again once it raised


def test_other_threads_run_during_a_load(large_file):
    window = {}

    def load():
        window["start"] = time.perf_counter()
        slp.load(large_file)
        window["end"] = time.perf_counter()

    loader = threading.Thread(target=load)
    ticks = []
    loader.start()
    while loader.is_alive():
        ticks.append(time.perf_counter())
        time.sleep(0.001)  # each tick needs the GIL back, which a load holding it would keep
    loader.join()
    during = [tick for tick in ticks if window["start"] < tick < window["end"]]
    assert window["end"] - window["start"] > 0.03
    assert len(during) >= 10, f"{len(during)} ticks in {window['end'] - window['start']:.3f} s of loading"


def test_threads_load_what_one_thread_loads(tmp_path):
    facet = "facet outer loop" + " normal 0 0 1 vertex {0} {1} 0.5" * 3 + " endloop endfacet\n"
    path = tmp_path / "solids.slp"
    path.write_text("".join(f"solid s{k}\ncolor 0.{k} 0.5 1\n" + "".join(facet.format(k, i) for i in range(4000))
                            + ("solid inner\n" + facet.format(-k, 1) * 9 + "endsolid\n") * (k % 2) + "endsolid\n"
                            for k in range(8)))  # 4.7 MB

    def outcome(threads):
        steps, tasks = [], []

        def progress(step):
            steps.append(step)
            tasks.append(len(os.listdir("/proc/self/task")))

        model = slp.load(path, progress=progress, threads=threads)
        return summary(model), steps, max(tasks)

    one, two = outcome(1), outcome(2)
    assert two[:2] == one[:2]
    assert two[2] > one[2]  # the second thread reads ahead
    with pytest.raises(ValueError):
        slp.load(path, threads=-1)
