"""slp.load from Python beside CSLPParser::Parse in C++, on the same file, each round in fresh processes.

    .venv/bin/python bench/python_load.py build/bench/bench-data/one_solid_300000.slp [--rounds 11]

The C++ figures are slp_bench's own measurement of Parse (slp_bench --measure parse FILE); the Python
ones time slp.load in a process that has imported slp and numpy, then takes every mesh's positions
and normals and drops the model, holding only the arrays. Peak memory is each process's maximum
resident size, from wait4. "Resident before" is the Python process's before the load (the interpreter,
numpy and slp); "resident loaded" is C++'s with the model loaded, and Python's with only the arrays
held after the model was dropped.

    .venv/bin/python bench/python_load.py --dask [--files 40 --facets 10000]

runs the Dask recipe of docs/python.md (its convert_all, SLP to glb) over a folder of generated files
on local clusters of one and two worker processes, and of one process with two threads: the time per
file and each worker's resident memory before and at its peak.
"""

import argparse
import os
import statistics
import subprocess
import sys

MEASURE = """
import os, sys, time
import numpy, slp
def resident_kib():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024
before = resident_kib()
start, cpu = time.perf_counter(), time.process_time()
model = slp.load(sys.argv[1])
seconds, cpu = time.perf_counter() - start, time.process_time() - cpu
arrays = [array for _, mesh in model.meshes() for array in (mesh.positions, mesh.normals)]
del model
print(seconds, cpu, before, resident_kib(), sum(array.shape[0] for array in arrays) // 2)
"""


def run(command):
    """What the process printed, as numbers, and its peak resident size in KiB."""
    process = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
    output = process.stdout.read()
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        sys.exit(f"{command[0]} failed ({process.returncode})")
    return [float(word) for word in output.split()], usage.ru_maxrss


def worker_memory():
    """A worker's resident and peak resident size in KiB (run on each worker)."""
    import resource

    with open("/proc/self/statm") as statm:
        resident = int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024
    return resident, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss


def dask_figures(files, facets):
    import re
    import tempfile
    import time

    from dask.distributed import Client, LocalCluster

    guide = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "docs", "python.md")
    recipe = {"__name__": "slp_dask_recipe"}
    with open(guide, encoding="utf-8") as text:
        exec(next(block for block in re.findall(r"```python\n(.*?)```", text.read(), re.S) if "def convert_all" in block), recipe)
    folder = tempfile.mkdtemp()
    corner = "      normal 0.000000 0.000000 1.000000\n      vertex {0}.500000 2.250000 3.125000\n"
    facet = "  facet\n    outer loop\n" + "".join(corner.format(k) for k in range(3)) + "    endloop\n  endfacet\n"
    sources = []
    for number in range(files):
        sources.append(os.path.join(folder, f"part{number}.slp"))
        with open(sources[-1], "w") as out:
            out.write(f"solid part{number}\n" + facet * facets + "endsolid\n")
    size = os.path.getsize(sources[0]) / 1e6
    print(f"{files} files of {size:.1f} MB ({facets:,} facets), SLP to glb\n")
    print("| workers | threads each | ms per file | worker resident MiB before | worker peak MiB |")
    print("|---:|---:|---:|---:|---:|")
    for workers, threads in ((1, 1), (2, 1), (1, 2)):
        with LocalCluster(n_workers=workers, threads_per_worker=threads, dashboard_address=None) as cluster, \
                Client(cluster) as client:
            before = client.run(worker_memory)
            recipe["convert_all"](client, sources[:2], tempfile.mkdtemp())  # the workers import slp
            start = time.perf_counter()
            rows = recipe["convert_all"](client, sources, tempfile.mkdtemp())
            seconds = time.perf_counter() - start
            after = client.run(worker_memory)
        assert not any(row["error"] for row in rows)
        resident = statistics.mean(value[0] for value in before.values()) / 1024
        peak = max(value[1] for value in after.values()) / 1024
        print(f"| {workers} | {threads} | {seconds / files * 1e3:.1f} | {resident:.0f} | {peak:.0f} |")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("file", nargs="?")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--slp-bench", default="build/release/bench/slp_bench")
    parser.add_argument("--dask", action="store_true")
    parser.add_argument("--files", type=int, default=40)
    parser.add_argument("--facets", type=int, default=10_000)
    args = parser.parse_args()
    if args.dask:
        return dask_figures(args.files, args.facets)
    if args.file is None:
        parser.error("name the file to load, or --dask")

    rows = {"C++ Parse": [], "Python slp.load": []}
    for _ in range(args.rounds):
        # slp_bench prints: seconds, facets, last percentage, resident KiB loaded, peak KiB before, CPU s
        # of every thread and of the calling thread (the peak before is the forking Python's, which the
        # child inherits, so it is left out).
        (seconds, _, _, loaded, _, cpu, _), peak = run([args.slp_bench, "--measure", "parse", args.file])
        rows["C++ Parse"].append((seconds, cpu, peak, float("nan"), loaded))
        (seconds, cpu, before, loaded, triangles), peak = run([sys.executable, "-c", MEASURE, args.file])
        rows["Python slp.load"].append((seconds, cpu, peak, before, loaded))

    print(f"{os.path.basename(args.file)}, {int(triangles):,} triangles, medians of {args.rounds} rounds\n")
    print("| loader | time ms | CPU ms | peak RSS MiB | resident before MiB | resident loaded MiB |")
    print("|---|---:|---:|---:|---:|---:|")
    medians = {}
    for name, samples in rows.items():
        medians[name] = [statistics.median(column) for column in zip(*samples)]
        seconds, cpu, peak, before, loaded = medians[name]
        before = "" if before != before else f"{before / 1024:.1f}"
        print(f"| {name} | {seconds * 1e3:.1f} | {cpu * 1e3:.1f} | {peak / 1024:.1f} | {before} | {loaded / 1024:.1f} |")
    python, native = medians["Python slp.load"], medians["C++ Parse"]
    print(f"\nPython / C++: time {python[0] / native[0]:.3f}, CPU {python[1] / native[1]:.3f}")


if __name__ == "__main__":
    main()
