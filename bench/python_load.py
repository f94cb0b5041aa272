"""slp.load from Python beside CSLPParser::Parse in C++, on the same file, each round in fresh processes.

    .venv/bin/python bench/python_load.py build/bench/bench-data/one_solid_300000.slp [--rounds 11]

The C++ figures are slp_bench's own measurement of Parse (slp_bench --measure parse FILE); the Python
ones time slp.load in a process that has imported slp and numpy, then takes every mesh's positions
and normals and drops the model, holding only the arrays. Peak memory is each process's maximum
resident size, from wait4. "Resident before" is the Python process's before the load (the interpreter,
numpy and slp); "resident loaded" is C++'s with the model loaded, and Python's with only the arrays
held after the model was dropped.
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


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("file")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--slp-bench", default="build/release/bench/slp_bench")
    args = parser.parse_args()

    rows = {"C++ Parse": [], "Python slp.load": []}
    for _ in range(args.rounds):
        # slp_bench prints: seconds, facets, last percentage, resident KiB loaded, peak KiB before, CPU s
        # (the peak before is the forking Python's, which the child inherits, so it is left out).
        (seconds, _, _, loaded, _, cpu), peak = run([args.slp_bench, "--measure", "parse", args.file])
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
