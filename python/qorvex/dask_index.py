"""`qorvex index` as a Dask bag: each task indexes one partition of image paths and returns its JSON lines.

One machine:  python3 -m qorvex.dask_index --workers 2 --out index.jsonl /srv/images
A cluster:    python3 -m qorvex.dask_index --scheduler tcp://HOST:8786 --out index.jsonl /srv/images
(the paths must name the same files on every worker: shared storage)."""

from __future__ import annotations

import argparse
import ctypes
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


def index_partition(paths: Iterable[str], algorithm: Optional[str], verify: bool = False) -> list[str]:
    _keep_heap()
    return [index_line(path, algorithm, verify=verify) for path in paths]


def index_bag(paths: list[str], algorithm: Optional[str], partition_size: int, verify: bool = False) -> "dask.bag.Bag":
    import dask.bag as db

    partitions = max(1, -(-len(paths) // partition_size))
    return db.from_sequence(paths, npartitions=partitions).map_partitions(index_partition, algorithm, verify)


def run(paths: list[str], algorithm: Optional[str], partition_size: int, client: "distributed.Client",
        out: Writer, verify: bool = False) -> int:
    """Writes every line to `out` as its partition finishes; answers how many images failed."""
    from distributed import as_completed

    bag = index_bag(collect(paths), algorithm, partition_size, verify)
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
    parser.add_argument("--partition-size", type=int, default=16, help="images per task")
    parser.add_argument("--hash", choices=("sha256", "md5", "none"), default="sha256")
    parser.add_argument("--out", default="-", help="JSON lines file (default: standard output)")
    parser.add_argument("--verify", action="store_true", help="also read and check every stored sector")
    args = parser.parse_args(argv)
    if args.partition_size < 1 or args.workers < 1:
        parser.error("--partition-size and --workers take a number from 1")
    from distributed import Client, LocalCluster

    algorithm = None if args.hash == "none" else args.hash
    if args.scheduler:
        cluster, client = None, Client(args.scheduler)
    else:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True, dashboard_address=None)
        client = Client(cluster)
    try:
        if args.out == "-":
            failed = run(args.paths, algorithm, args.partition_size, client, sys.stdout, args.verify)
        else:
            with open(args.out, "w", encoding="utf-8") as out:
                failed = run(args.paths, algorithm, args.partition_size, client, out, args.verify)
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
