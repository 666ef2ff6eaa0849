"""The index through the program, the module and a Dask LocalCluster, and the module's own calls."""

from __future__ import annotations

import hashlib
import io
import json
import subprocess
import xml.etree.ElementTree as ET
from pathlib import Path

import pytest
from conftest import CLI

import qorvex
from qorvex import dask_index

GOOD = {"mixed.iso", "xorriso.iso", "disc.cue", "disc.toc", "disc.bin"}


def cli_index(*args: str) -> subprocess.CompletedProcess[str]:
    return subprocess.run([CLI, "index", *args], capture_output=True, text=True, timeout=120)


def by_image(lines: list[str]) -> dict[str, dict]:
    return {Path(r["image"]).name: r for r in map(json.loads, lines)}


@pytest.mark.parametrize("algorithm", ["sha256", "md5"])
def test_cli_index_names_every_file_with_its_hash(collection, algorithm: str) -> None:
    folder, files = collection
    run = cli_index(str(folder), "--jobs", "2", "--hash", algorithm)
    assert run.returncode == 1  # the hostile images fail, the run goes on
    records = by_image(run.stdout.splitlines())
    assert set(records) == GOOD | {"random.img", "truncated.iso"}
    assert records["random.img"]["code"] == 0x8123
    assert [records[n]["container"] for n in ("disc.cue", "disc.toc", "mixed.iso")] == ["cue", "toc", "plain"]
    want = {hashlib.new(algorithm, data).hexdigest() for data in files.values()}
    for name in GOOD:
        systems = {fs["fs"]: fs for t in records[name]["tracks"] for fs in t["file_systems"]}
        assert "joliet" in systems and "rockridge" in systems
        rr = {e["path"]: e for e in systems["rockridge"]["entries"]}
        assert rr["\\link"]["type"] == "link" and rr["\\link"]["link"] == "dir/a55.bin"
        assert rr["\\top.txt"]["date"] == 1_000_000_000 and rr["\\top.txt"]["mode"] & 0o170000 == 0o100000
        assert {e[algorithm] for e in rr.values() if e["type"] == "file"} == want
    assert "udf" in {fs["fs"] for t in records["mixed.iso"]["tracks"] for fs in t["file_systems"]}


def test_python_and_dask_write_the_same_lines_as_the_cli(collection) -> None:
    folder, _ = collection
    paths = [str(folder), "/dev/null", str(folder / "missing.iso")]  # never opened: no FIFO or device is read
    cli_lines = sorted(cli_index(*paths, "--jobs", "2").stdout.splitlines(keepends=True))
    assert sorted(qorvex.index_line(p) for p in qorvex.collect(paths)) == cli_lines
    assert sum('"error":"not a regular file"' in line or "No such file" in line for line in cli_lines) == 2
    from distributed import Client, LocalCluster

    with LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster, Client(cluster) as client:
        out = io.StringIO()
        assert dask_index.run(paths, "sha256", 2, client, out) == 4
    assert sorted(out.getvalue().splitlines(keepends=True)) == cli_lines


def test_resume_keeps_whole_lines_and_indexes_the_rest(collection, tmp_path: Path) -> None:
    folder, _ = collection
    full = cli_index(str(folder), "--jobs", "1").stdout.splitlines(keepends=True)
    # An interrupted run: one whole line (marked, to show it is kept as it is) and one cut short.
    kept = full[0].replace('"tracks":', '"kept":1,"tracks":') if '"tracks":' in full[0] else full[0]
    out = tmp_path / "index.jsonl"
    out.write_text(kept + full[1][: len(full[1]) // 2])
    assert cli_index(str(folder), "--resume", "--out", str(out)).returncode == 1
    assert sorted(out.read_text().splitlines(keepends=True)) == sorted([kept] + full[1:])
    assert cli_index(str(folder), "--resume", "--out", str(out)).returncode == 0  # nothing left to do


def test_dfxml_lists_the_files_with_digests(collection) -> None:
    folder, files = collection
    run = cli_index(str(folder / "mixed.iso"), "--dfxml", "--hash", "md5")
    ns = "{http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML}"
    volumes = ET.fromstring(run.stdout).findall(ns + "volume")
    assert {v.findtext(ns + "ftype_str") for v in volumes} == {"iso9660", "joliet", "udf", "rockridge"}
    digests = {h.text for h in volumes[0].iter(ns + "hashdigest")}
    assert digests == {hashlib.md5(d).hexdigest() for d in files.values()}


def test_image_walk_stream_and_extraction(collection, tmp_path: Path) -> None:
    folder, files = collection
    with qorvex.Image(str(folder / "xorriso.iso")) as image:
        assert [t.format for t in image.tracks()] == ["MODE1/2048"]
        rr = {e.path: e for e in image.walk(0, qorvex.KIND_ROCKRIDGE)}
        assert rr["\\top.txt"].date is not None and rr["\\top.txt"].date.timestamp() == 1_000_000_000
        assert rr["\\link"].link_target == "dir/a55.bin"
        big = rr["\\dir\\big.bin"]
        assert image.hash(big, "md5") == hashlib.md5(files["dir/big.bin"]).hexdigest()
        with image.open(big) as stream:
            stream.seek(50_000)
            assert stream.read(10) == files["dir/big.bin"][50_000:50_010]
        written = image.extract(big, str(tmp_path))
        assert Path(written).read_bytes() == files["dir/big.bin"]
        with pytest.raises(FileExistsError):
            image.extract(big, str(tmp_path))  # never replaced silently
        image.extract_track(0, str(tmp_path / "track.iso"))
    assert (tmp_path / "track.iso").stat().st_size == (folder / "xorriso.iso").stat().st_size
    with pytest.raises(qorvex.QorvexError) as failure:
        qorvex.Image(str(folder / "random.img"))
    assert failure.value.code == 0x8123
