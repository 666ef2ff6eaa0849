"""Real images made by real tools, the engine of the build tree and the qorvex program beside it."""

from __future__ import annotations

import os
import random
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
    return out, files
