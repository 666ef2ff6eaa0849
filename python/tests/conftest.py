"""Real images made by real tools, the engine of the build tree and the qorvex program beside it."""

from __future__ import annotations

import os
import random
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

BUILD = Path(os.environ.get("QORVEX_BUILD", Path(__file__).resolve().parents[2] / "build"))
os.environ.setdefault("QORVEX_LIBRARY", str(BUILD / "bin" / "libqorvex.so"))
sys.path.insert(0, str(Path(__file__).resolve().parents[1]))
# Dask's worker processes import the module the same way.
os.environ["PYTHONPATH"] = os.pathsep.join(filter(None, [str(Path(__file__).resolve().parents[1]),
                                                         os.environ.get("PYTHONPATH")]))
CLI = str(BUILD / "bin" / "qorvex")
MULTI = random.Random(5).randbytes(10_000)  # kept in two extents in multi.iso
# raw.bin: sector (from the end, in xorriso's padding) -> byte flipped (100: user data; 12: the header's minute)
RAW_DAMAGE = {-2: 100, -1: 12}

# File sizes around the digests' 64-byte block and padding edges, and one of several sectors.
SIZES = {"empty.txt": 0, "a55.bin": 55, "b56.bin": 56, "c64.bin": 64, "d65.bin": 65, "big.bin": 100_003}


def make_tree(root: Path) -> dict[str, bytes]:
    rng = random.Random(31)
    files = {}
    for name, size in SIZES.items():
        files["dir/" + name] = rng.randbytes(size)
    files["top.txt"] = b"hello\n"
    for rel, data in files.items():
        (root / rel).parent.mkdir(parents=True, exist_ok=True)
        (root / rel).write_bytes(data)
    os.utime(root / "top.txt", (1_000_000_000, 1_000_000_000))
    (root / "link").symlink_to("dir/a55.bin")
    return files


def split_extent(iso: Path, name: bytes, first_size: int) -> None:
    """Makes the root record of `name` two records of one file, the first with the multi-extent flag."""
    data = bytearray(iso.read_bytes())
    root = int.from_bytes(data[16 * 2048 + 158:16 * 2048 + 162], "little")
    at, sector = 0, data[root * 2048:(root + 1) * 2048]
    while sector[at + 33:at + 33 + sector[at + 32]] != name:
        at += sector[at]
    record = sector[at:at + sector[at]]
    extent, size = int.from_bytes(record[2:6], "little"), int.from_bytes(record[10:14], "little")
    both = lambda n: n.to_bytes(4, "little") + n.to_bytes(4, "big")  # noqa: E731
    first = record[:2] + both(extent) + both(first_size) + record[18:25] + bytes([record[25] | 0x80]) + record[26:]
    rest = record[:2] + both(extent + first_size // 2048) + both(size - first_size) + record[18:]
    joined = sector[:at] + first + rest + sector[at + len(record):]
    assert not any(joined[2048:])  # the folder's sector has room for the second record
    data[root * 2048:(root + 1) * 2048] = joined[:2048]
    iso.write_bytes(data)


def extents(iso: Path) -> dict[str, tuple[int, int]]:
    """isoinfo's ISO 9660 names with their first sector and size."""
    listing = subprocess.run(["isoinfo", "-l", "-i", str(iso)], check=True, capture_output=True, text=True).stdout
    pattern = r"-\S+(?:\s+\d+){3}\s+(\d+) .*\[\s*(\d+) \S+\s+(\S+)\s*$"
    return {m[3]: (int(m[2]), int(m[1])) for line in listing.splitlines() if (m := re.match(pattern, line))}


@pytest.fixture(scope="session")
def collection(tmp_path_factory: pytest.TempPathFactory) -> tuple[Path, dict[str, bytes]]:
    """A folder of every kind: Joliet + Rock Ridge + UDF, xorriso Rock Ridge, cue and toc sheets, and hostile files."""
    tree, out = tmp_path_factory.mktemp("tree"), tmp_path_factory.mktemp("images")
    files = make_tree(tree)
    run = lambda *cmd: subprocess.run(cmd, check=True, capture_output=True)  # noqa: E731
    run("genisoimage", "-quiet", "-J", "-R", "-udf", "-V", "MIXED", "-o", str(out / "mixed.iso"), str(tree))
    run("xorriso", "-as", "mkisofs", "-quiet", "-R", "-J", "-V", "XORR", "-o", str(out / "xorriso.iso"), str(tree))
    sheet = out / "sheet"
    sheet.mkdir()
    shutil.copy(out / "mixed.iso", sheet / "disc.bin")
    (sheet / "disc.cue").write_text('FILE "disc.bin" BINARY\n  TRACK 01 MODE1/2048\n    INDEX 01 00:00:00\n')
    (sheet / "disc.toc").write_text('CD_ROM\n\nTRACK MODE1\nDATAFILE "disc.bin"\n')
    (out / "random.img").write_bytes(random.Random(7).randbytes(70_000))
    (out / "truncated.iso").write_bytes((out / "mixed.iso").read_bytes()[:36_864])
    # Cut inside big.bin: it and the files after it lack bytes.
    (out / "cut.iso").write_bytes((out / "mixed.iso").read_bytes()[:extents(out / "mixed.iso")["BIG.BIN;1"][0] * 2048
                                                                    + 50_000])
    (tree / "multi").mkdir()
    (tree / "multi" / "multi.bin").write_bytes(MULTI)
    run("genisoimage", "-quiet", "-o", str(out / "multi.iso"), str(tree / "multi"))
    split_extent(out / "multi.iso", b"MULTI.BIN;1", 4096)
    (out / "raw").mkdir()
    run(str(BUILD / "bin" / "qorvex_wrap_raw"), str(out / "xorriso.iso"), str(out / "raw" / "raw.bin"))
    with open(out / "raw" / "raw.bin", "r+b") as raw:
        for sector, at in RAW_DAMAGE.items():
            raw.seek(sector * 2352 + at, os.SEEK_END)
            raw.write(bytes([raw.read(1)[0] ^ 0x41]))
    (out / "raw" / "raw.cue").write_text('FILE "raw.bin" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n')
    return out, files
