#!/usr/bin/env python3
"""`qorvex index` over 1,000 small images with one job and with two, and the same index as a Dask bag on a
2-worker LocalCluster (its tasks running the program, and for comparison indexing in the workers through the
module): prints the median times and their ratios (--jobs 2 should be >= 1.7x --jobs 1, Dask within 1.5x of
--jobs 2)."""

from __future__ import annotations

import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Callable


def make_images(folder: Path, count: int) -> None:
    """A few distinct small images (a dozen files each), copied to `count` names."""
    rng = random.Random(1)
    bases = []
    for b in range(10):
        tree = folder / f"tree{b}"
        for i in range(12):
            (tree / f"d{i % 3}").mkdir(parents=True, exist_ok=True)
            (tree / f"d{i % 3}" / f"f{i}.bin").write_bytes(rng.randbytes(rng.randrange(1, 40_000)))
        base = folder / f"base{b}.iso"
        subprocess.run(["genisoimage", "-quiet", "-J", "-R", "-o", str(base), str(tree)], check=True)
        bases.append(base)
    images = folder / "images"
    images.mkdir()
    for n in range(count):
        shutil.copy(bases[n % len(bases)], images / f"{n:04d}.iso")


def median_time(run: Callable[[], None], rounds: int) -> float:
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", default="build")
    parser.add_argument("--count", type=int, default=1000)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    build = Path(args.build).resolve()
    os.environ.setdefault("QORVEX_LIBRARY", str(build / "bin" / "libqorvex.so"))
    sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "python"))
    os.environ["PYTHONPATH"] = sys.path[0]
    from distributed import Client, LocalCluster

    from qorvex import dask_index

    with tempfile.TemporaryDirectory(dir="/dev/shm" if os.path.isdir("/dev/shm") else None) as tmp:
        folder = Path(tmp)
        make_images(folder, args.count)
        images = str(folder / "images")

        def cli(jobs: int) -> Callable[[], None]:
            command = [str(build / "bin" / "qorvex"), "-q", "index", images, "--jobs", str(jobs), "--out", os.devnull]
            return lambda: subprocess.run(command, check=True)

        # The three in turn in each round, the cluster up throughout, so that all meet the same machine.
        times: dict[str, list[float]] = {"one": [], "two": [], "dask": [], "module": []}
        with LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster, \
                Client(cluster) as client, open(os.devnull, "w") as sink:
            runs = {"one": cli(1), "two": cli(2),
                    "dask": lambda: dask_index.run([images], "sha256", 0, client, sink),
                    "module": lambda: dask_index.run([images], "sha256", 0, client, sink, engine="module")}
            for _ in range(args.rounds):
                for name, run in runs.items():
                    times[name].append(median_time(run, 1))
        one, two, dask, module = (statistics.median(times[name]) for name in ("one", "two", "dask", "module"))
    print(f"{args.count} images: --jobs 1 {one:.2f} s, --jobs 2 {two:.2f} s, Dask 2 workers {dask:.2f} s "
          f"(indexing in the workers themselves: {module:.2f} s)")
    print(f"--jobs 2 speed-up over --jobs 1: {one / two:.2f}x (target >= 1.7)")
    print(f"Dask time / --jobs 2 time: {dask / two:.2f} (target <= 1.5)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
