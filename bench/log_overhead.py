#!/usr/bin/env python3
"""Shows what "/LOGFILE" adds to a run: runs the program many times with and
without it, as a batch file would, and prints the mean time of a run.

  bench/log_overhead.py --program build/native/quillmarsh [--runs 100]
"""

import argparse
import json
import os
import pathlib
import statistics
import subprocess
import tempfile
import time


def time_runs(program, arguments, runs, env):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run([program] + arguments, env=env, stdout=subprocess.DEVNULL, check=False)
        times.append(time.perf_counter() - start)
    return times


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--runs", type=int, default=100)
    options = parser.parse_args()

    with tempfile.TemporaryDirectory(prefix="quillmarsh-bench-") as folder:
        scratch = pathlib.Path(folder)
        server = scratch / "server.json"
        server.write_text(json.dumps({"own_session": 2}), encoding="utf-8")
        env = dict(os.environ, TMPDIR=str(scratch), QUILLMARSH_SERVER=str(server))
        # Alternate the two kinds so that drift of the machine hits both.
        plain, logged = [], []
        for _ in range(5):
            plain += time_runs(options.program, ["/NOTME"], options.runs // 5, env)
            logged += time_runs(options.program, ["/LOGFILE", "/NOTME"], options.runs // 5, env)
        size = (scratch / "quillmarsh.utf8.log").stat().st_size

    def show(label, times):
        print(f"{label:<22} mean {statistics.mean(times) * 1000:6.2f} ms, "
              f"median {statistics.median(times) * 1000:6.2f} ms")

    show("without /LOGFILE", plain)
    show("with /LOGFILE", logged)
    extra = statistics.median(logged) - statistics.median(plain)
    print(f"/LOGFILE adds {extra * 1000:.2f} ms a run (median); "
          f"{len(logged)} logged runs left a log of {size} bytes")


if __name__ == "__main__":
    main()
