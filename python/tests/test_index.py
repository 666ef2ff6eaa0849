"""The index through the program, the module and a Dask LocalCluster, and the module's own calls."""

from __future__ import annotations

import hashlib
import io
import json
import os
import re
import shutil
import subprocess
import xml.etree.ElementTree as ET
from pathlib import Path

import pytest
from conftest import CLI, MULTI, RAW_DAMAGE, extents

import qorvex
from qorvex import dask_index

GOOD = {"mixed.iso", "xorriso.iso", "disc.cue", "disc.toc", "disc.bin"}
OTHERS = {"random.img", "truncated.iso", "cut.iso", "multi.iso", "raw.cue", "raw.bin"}


def cli_index(*args: str) -> subprocess.CompletedProcess[str]:
    return subprocess.run([CLI, "index", *args], capture_output=True, text=True, timeout=120)


def by_image(lines: list[str]) -> dict[str, dict]:
    return {Path(r["image"]).name: r for r in map(json.loads, lines)}


def test_cli_index_names_every_file_with_its_hash(collection) -> None:
    folder, files = collection
    run = cli_index(str(folder), "--jobs", "2")
    assert run.returncode == 1  # the hostile images fail, the run goes on
    records = by_image(run.stdout.splitlines())
    assert set(records) == GOOD | OTHERS
    assert records["random.img"]["code"] == 0x8123
    assert [records[n]["container"] for n in ("disc.cue", "disc.toc", "mixed.iso")] == ["cue", "toc", "plain"]
    want = {hashlib.sha256(data).hexdigest() for data in files.values()}
    for name in GOOD:
        systems = {fs["fs"]: fs for t in records[name]["tracks"] for fs in t["file_systems"]}
        assert "joliet" in systems and "rockridge" in systems
        rr = {e["path"]: e for e in systems["rockridge"]["entries"]}
        assert rr["\\link"]["type"] == "link" and rr["\\link"]["link"] == "dir/a55.bin"
        assert rr["\\top.txt"]["date"] == 1_000_000_000 and rr["\\top.txt"]["mode"] & 0o170000 == 0o100000
        assert {e["sha256"] for e in rr.values() if e["type"] == "file"} == want
    assert "udf" in {fs["fs"] for t in records["mixed.iso"]["tracks"] for fs in t["file_systems"]}


def test_joined_extents_salvage_and_sector_checks_against_peers(collection) -> None:
    folder, _ = collection
    records = by_image(cli_index(*(str(folder / n) for n in ("multi.iso", "cut.iso", "mixed.iso", "raw/raw.cue")),
                                 "--verify").stdout.splitlines())
    # One entry for the file of two extents, its bytes as bsdtar joins them.
    [multi] = records["multi.iso"]["tracks"][0]["file_systems"][0]["entries"]
    assert subprocess.run(["bsdtar", "-xOf", str(folder / "multi.iso"), "MULTI.BIN"], capture_output=True).stdout \
        == MULTI
    assert (multi["path"], multi["size"]) == ("\\MULTI.BIN;1", len(MULTI))
    assert multi["sha256"] == hashlib.sha256(MULTI).hexdigest()
    # The cut image: its end against the volume size isoinfo reads, each file's missing bytes from its extent.
    cut = (folder / "cut.iso").stat().st_size
    info = subprocess.run(["isoinfo", "-d", "-i", str(folder / "mixed.iso")], capture_output=True, text=True).stdout
    volume, track = int(re.findall(r"Volume size is: (\d+)", info)[0]), records["cut.iso"]["tracks"][0]
    assert track["salvaged"] == {"held_end": cut // 2048, "recorded_end": volume, "part_bytes": cut % 2048,
                                 "failed": 0, "notes": []}
    [iso] = [{e["path"].rsplit("\\", 1)[1]: e for e in fs["entries"]} for fs in track["file_systems"]
             if fs["fs"] == "iso9660"]
    damaged = 0
    for name, (start, size) in extents(folder / "mixed.iso").items():
        kept = min(size, max(0, cut // 2048 * 2048 - start * 2048))
        want = [{"offset": kept, "length": size - kept}] if kept < size else None
        assert (iso[name].get("damaged") or {}).get("ranges") == want, name
        assert ("sha256" in iso[name]) == (want is None), name  # a damaged file has the engine's code instead
        damaged += want is not None
    assert 0 < damaged < len(iso)
    sectors = (folder / "raw" / "raw.bin").stat().st_size // 2352
    assert records["raw.cue"]["verify"] == {"checked": True, "sectors": sectors, "good": sectors - len(RAW_DAMAGE),
                                            "edc_errors": len(RAW_DAMAGE), "address_errors": 1, "unreadable": 0}
    sectors = (folder / "mixed.iso").stat().st_size // 2048
    assert records["mixed.iso"]["verify"] == {"checked": False, "sectors": sectors, "good": sectors, "edc_errors": 0,
                                              "address_errors": 0, "unreadable": 0}


def test_python_and_dask_write_the_same_lines_as_the_cli(collection, tmp_path: Path) -> None:
    folder, _ = collection
    # A name that is no UTF-8 is written with U+FFFD by all three.
    odd = tmp_path / os.fsdecode(b"\xff-mixed.iso")
    shutil.copy(folder / "mixed.iso", odd)
    paths = [str(folder), "/dev/null", str(folder / "missing.iso"), str(odd)]  # no FIFO or device is read
    cli_lines = sorted(cli_index(*paths, "--jobs", "2", "--verify").stdout.splitlines(keepends=True))
    assert sorted(qorvex.index_line(p, verify=True) for p in qorvex.collect(paths)) == cli_lines
    assert sum('"error":"not a regular file"' in line or "No such file" in line for line in cli_lines) == 2
    assert sum('\ufffd-mixed.iso"' in line for line in cli_lines) == 1
    from distributed import Client, LocalCluster

    with LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster, Client(cluster) as client:
        # The workers find the program beside the library; "module" indexes in the worker itself.
        for engine in ("program", "module"):
            out = io.StringIO()
            assert dask_index.run(paths, "sha256", 2, client, out, verify=True, engine=engine) == 4
            assert sorted(out.getvalue().splitlines(keepends=True)) == cli_lines, engine


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


def test_dfxml_lists_the_files_with_digests_and_damage(collection) -> None:
    folder, files = collection
    run = cli_index(str(folder / "mixed.iso"), str(folder / "cut.iso"), "--dfxml", "--hash", "md5", "--jobs", "1")
    ns = "{http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML}"
    volumes = ET.fromstring(run.stdout).findall(ns + "volume")
    mixed = [v for v in volumes if v.findtext(ns + "image_filename").endswith("mixed.iso")]
    assert {v.findtext(ns + "ftype_str") for v in mixed} == {"iso9660", "joliet", "udf", "rockridge"}
    digests = {h.text for h in mixed[0].iter(ns + "hashdigest")}
    assert digests == {hashlib.md5(d).hexdigest() for d in files.values()}
    # The cut image's damage as its JSON line tells it.
    cut_track = json.loads(cli_index(str(folder / "cut.iso")).stdout)["tracks"][0]
    [json_fs] = [fs for fs in cut_track["file_systems"] if fs["fs"] == "joliet"]
    [cut] = [v for v in volumes if v.findtext(ns + "image_filename").endswith("cut.iso")
             and v.findtext(ns + "ftype_str") == "joliet"]
    assert {f.findtext(ns + "filename"): [{"offset": int(b.get("file_offset")), "length": int(b.get("len"))}
                                          for b in f.iter(ns + "byte_run")]
            for f in cut.iter(ns + "fileobject") if f.find(ns + "damaged") is not None} == \
        {e["path"]: e["damaged"]["ranges"] for e in json_fs["entries"] if "damaged" in e}
    assert cut.find(ns + "salvaged").get("held_end") == str(cut_track["salvaged"]["held_end"])


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
