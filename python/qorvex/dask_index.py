"""`qorvex index` as a Dask bag: each task indexes one partition of image paths and returns its JSON lines.

One machine:  python3 -m qorvex.dask_index --workers 2 --out index.jsonl /srv/images
A cluster:    python3 -m qorvex.dask_index --scheduler tcp://HOST:8786 --out index.jsonl /srv/images
(the paths must name the same files on every worker: shared storage).

A task hands its partition to the `qorvex` program where the worker has one (QORVEX_PROGRAM, else the one beside
QORVEX_LIBRARY when that is set, else the one on the PATH): it writes the same lines as this module in about
half the time. Without one, or with --engine module, the task indexes in its own process."""

from __future__ import annotations

import argparse
import ctypes
import os
import shutil
import subprocess
import sys
from typing import TYPE_CHECKING, Iterable, Optional, Protocol

if TYPE_CHECKING:
    import dask.bag
    import distributed


class Writer(Protocol):
    def write(self, text: str, /) -> object: ...

from .index import collect, index_line


_heap_kept = False


def _keep_heap() -> None:
    """Dask's nanny starts workers with MALLOC_TRIM_THRESHOLD_ set, which also stops glibc from raising its mmap
    threshold: every large buffer the engine takes would be mapped and faulted in anew (several times slower).
    Fixed thresholds keep them on the heap; the engine's budget still bounds what one image holds."""
    global _heap_kept
    if not _heap_kept and sys.platform.startswith("linux"):
        libc = ctypes.CDLL(None)
        libc.mallopt(-3, 32 << 20)  # M_MMAP_THRESHOLD
        libc.mallopt(-1, 64 << 20)  # M_TRIM_THRESHOLD
        _heap_kept = True


ENGINES = ("auto", "program", "module")
_ARGUMENT_BYTES = 64 << 10  # paths handed to one run of the program


def find_program() -> Optional[str]:
    """The `qorvex` program of this worker, or None."""
    named = os.environ.get("QORVEX_PROGRAM")
    if named:
        return named
    library = os.environ.get("QORVEX_LIBRARY")
    if library:
        beside = os.path.join(os.path.dirname(library), "qorvex")
        return beside if os.access(beside, os.X_OK) else None
    return shutil.which("qorvex")


def _program_lines(program: str, paths: list[str], algorithm: Optional[str], verify: bool) -> Optional[list[str]]:
    """The program's lines for `paths`, or None when it did not write one for each."""
    # The nanny's MALLOC_TRIM_THRESHOLD_ would make every large buffer of the program's a fresh mapping.
    env = {k: v for k, v in os.environ.items() if k != "MALLOC_TRIM_THRESHOLD_"}
    command = [program, "-q", "index", "--jobs", "1", "--hash", algorithm or "none", "--out", "-"]
    lines: list[str] = []
    start = 0
    while start < len(paths):
        end, size = start, 0
        while end < len(paths) and (end == start or size + len(paths[end]) < _ARGUMENT_BYTES):
            size += len(paths[end]) + 1
            end += 1
        try:
            run = subprocess.run(command + (["--verify"] if verify else []) + ["--"] + paths[start:end],
                                 capture_output=True, env=env)
        except OSError:
            return None
        got = run.stdout.decode("utf-8", "replace").splitlines(keepends=True)
        if run.returncode not in (0, 1) or len(got) != end - start:
            return None
        lines += got
        start = end
    return lines


def index_partition(paths: Iterable[str], algorithm: Optional[str], verify: bool = False,
                    engine: str = "auto") -> list[str]:
    paths = list(paths)
    program = find_program() if engine != "module" else None
    if engine == "program" and not program:
        raise RuntimeError("no qorvex program on this worker (QORVEX_PROGRAM or the PATH)")
    if program:
        lines = _program_lines(program, paths, algorithm, verify)
        if lines is not None:
            return lines
        if engine == "program":
            raise RuntimeError(f"{program} did not index its partition")
    _keep_heap()
    return [index_line(path, algorithm, verify=verify) for path in paths]


def index_bag(paths: list[str], algorithm: Optional[str], partition_size: int, verify: bool = False,
              engine: str = "auto") -> "dask.bag.Bag":
    import dask.bag as db

    partitions = max(1, -(-len(paths) // partition_size))
    return db.from_sequence(paths, npartitions=partitions).map_partitions(index_partition, algorithm, verify, engine)


def run(paths: list[str], algorithm: Optional[str], partition_size: int, client: "distributed.Client",
        out: Writer, verify: bool = False, engine: str = "auto") -> int:
    """Writes every line to `out` as its partition finishes; answers how many images failed. A `partition_size` of
    0 chooses one from the images and the cluster's threads. `engine` says who indexes a partition: the `qorvex`
    program where there is one ("auto"), always ("program") or never ("module")."""
    from distributed import as_completed

    images = collect(paths)
    if partition_size <= 0:
        # A few tasks for each worker thread, so that a slow one evens out, each long enough that scheduling it
        # costs little beside it.
        threads = max(1, sum(client.nthreads().values()))
        partition_size = min(max(-(-len(images) // (4 * threads)), 16), 1024)
    bag = index_bag(images, algorithm, partition_size, verify, engine)
    failed = 0
    futures = client.compute(bag.to_delayed())
    for future in as_completed(futures):
        for line in future.result():
            failed += ',"container":' not in line  # an image's line without a listing says why
            out.write(line)
    return failed


def main(argv: Optional[list[str]] = None) -> int:
    parser = argparse.ArgumentParser(prog="python3 -m qorvex.dask_index", description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("paths", nargs="+", metavar="PATH")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler")
    parser.add_argument("--workers", type=int, default=2, help="local worker processes without --scheduler")
    parser.add_argument("--partition-size", type=int, default=0,
                        help="images per task (default: four tasks for each worker thread, 16 to 1024 images each)")
    parser.add_argument("--hash", choices=("sha256", "md5", "none"), default="sha256")
    parser.add_argument("--out", default="-", help="JSON lines file (default: standard output)")
    parser.add_argument("--verify", action="store_true", help="also read and check every stored sector")
    parser.add_argument("--engine", choices=ENGINES, default="auto",
                        help="who indexes a partition: the qorvex program where there is one, or this module")
    args = parser.parse_args(argv)
    if args.partition_size < 0 or args.workers < 1:
        parser.error("--partition-size takes a number from 0, --workers from 1")
    from distributed import Client, LocalCluster

    algorithm = None if args.hash == "none" else args.hash
    if args.scheduler:
        cluster, client = None, Client(args.scheduler)
    else:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True, dashboard_address=None)
        client = Client(cluster)
    try:
        if args.out == "-":
            failed = run(args.paths, algorithm, args.partition_size, client, sys.stdout, args.verify, args.engine)
        else:
            with open(args.out, "w", encoding="utf-8") as out:
                failed = run(args.paths, algorithm, args.partition_size, client, out, args.verify, args.engine)
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
