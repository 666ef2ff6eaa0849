"""The index line of one image, as `qorvex index` writes it."""

from __future__ import annotations

import hashlib
import json
import os
import stat
from typing import Iterable, Optional

from . import _lib
from .image import Entry, Image, QorvexError, Salvage, Verification


def collect(paths: Iterable[str]) -> list[str]:
    """The images the paths name: folders give every regular file below them, names in byte order, links to
    folders not entered."""
    found: list[str] = []
    for path in paths:
        _collect(path, True, found)
    return found


def _collect(path: str, top: bool, found: list[str]) -> None:
    try:
        st = os.stat(path) if top else os.lstat(path)
    except OSError:
        if top:
            found.append(path)
        return
    if not stat.S_ISDIR(st.st_mode):
        if top or stat.S_ISREG(st.st_mode):
            found.append(path)
        return
    try:
        names = sorted(os.listdir(os.fsencode(path)))
    except OSError:
        found.append(path)
        return
    prefix = path if path.endswith("/") else path + "/"
    for name in names:
        _collect(prefix + os.fsdecode(name), False, found)


def _json(text: str) -> str:
    # A name's bytes that are no UTF-8 (kept by Python as lone surrogates) become U+FFFD, as the host writes them;
    # the host escapes DEL as well.
    text = text.encode("utf-8", "surrogateescape").decode("utf-8", "replace")
    return json.dumps(text, ensure_ascii=False).replace("\x7f", "\\u007f")


def group_extents(entries: list[Entry], udf: bool) -> list[list[int]]:
    """The files of a walk, each as the positions of its records: a UDF file in several extents is listed once per
    extent under one name; an ISO 9660 / Joliet file in several extents is a run of same-name records, each but the
    last flagged as going on."""
    groups: list[list[int]] = []
    udf_files: dict[str, int] = {}
    for i, e in enumerate(entries):
        if udf and e.extent_count > 1:
            group = udf_files.setdefault(e.path, len(groups))
            if group == len(groups):
                groups.append([])
            groups[group].append(i)
        elif not udf and groups and groups[-1][-1] + 1 == i and entries[i - 1].more_extents and \
                entries[i - 1].path == e.path:
            groups[-1].append(i)
        else:
            groups.append([i])
    return groups


def _damage_json(ranges: list[tuple[int, int]]) -> str:
    return ',"damaged":{"missing_bytes":%d,"ranges":[%s]}' % (
        sum(n for _, n in ranges), ",".join('{"offset":%d,"length":%d}' % r for r in ranges))


def _file_json(image: Image, records: list[Entry], udf: bool, algorithm: Optional[str]) -> str:
    entry = records[0]
    joined = udf and entry.extent_count > 1  # the engine joins a UDF file's extents itself
    out = '{"path":%s,"type":"%s","size":%d,"date":%s' % (
        _json(entry.path), entry.type, sum(r.size for r in records),
        "null" if entry.seconds is None else str(entry.seconds))
    if entry.mode is not None:
        out += ',"mode":%d' % entry.mode
    if entry.type == "link":
        out += ',"link":' + _json(entry.link_target or "")
    if entry.type == "file" and algorithm:
        digest = hashlib.new(algorithm)
        try:
            for record in records[:1] if joined else records:
                image.update_digest(record, digest, joined)
            out += ',"%s":"%s"' % (algorithm, digest.hexdigest())
        except QorvexError as e:
            out += ',"code":%d' % e.code
    if any(r.damaged for r in records):
        ranges: list[tuple[int, int]] = []
        if joined:
            ranges = image.missing(entry, True)
        else:
            base = 0
            for r in records:
                ranges += [(base + offset, length) for offset, length in (image.missing(r) if r.damaged else [])]
                base += r.size
        out += _damage_json(ranges)
    return out + "}"


def _salvage_json(s: Salvage) -> str:
    return ',"salvaged":{"held_end":%d,"recorded_end":%d,"part_bytes":%d,"failed":%d,"notes":[%s]}' % (
        s.held_end, s.recorded_end, s.part_bytes, s.failed, ",".join(map(_json, s.notes)))


def _verify_json(v: Verification) -> str:
    if v.error is not None:
        return ',"verify":{"error":%s}' % _json(v.error)
    return ',"verify":{"checked":%s,"sectors":%d,"good":%d,"edc_errors":%d,"address_errors":%d,"unreadable":%d}' % (
        "true" if v.checked else "false", v.sectors, v.good, v.edc_errors, v.address_errors, v.unreadable)


def _listing_json(image: Image, algorithm: Optional[str], verify: bool) -> str:
    tracks = []
    for track in image.tracks():
        systems = []
        for fs in image.file_systems(track.index):
            udf = fs.kind == _lib.KIND_UDF
            walk = list(image.walk(track.index, fs.kind))
            entries = [_file_json(image, [walk[i] for i in group], udf, algorithm)
                       for group in group_extents(walk, udf)]
            systems.append('{"fs":"%s","label":%s,"entries":[%s]}' % (fs.keyword, _json(fs.label), ",".join(entries)))
        salvage = image.salvage(track.index)
        tracks.append('{"track":%d,"session":%d,"format":"%s","start":%d,"end":%d%s,"file_systems":[%s]}' % (
            track.number, track.session, track.format, track.start, track.end,
            _salvage_json(salvage) if salvage else "", ",".join(systems)))
    checks = _verify_json(image.verify()) if verify else ""
    return ',"container":%s%s,"tracks":[%s]}' % (_json(image.container), checks, ",".join(tracks))


def index_line(path: str, algorithm: Optional[str] = "sha256", options: int = _lib.OPEN_EXTENSIONS,
               verify: bool = False) -> str:
    """One image's JSON line (with its newline); an image that cannot be read gets a line saying why. `verify` also
    reads and checks every stored sector (`qorvex index --verify`)."""
    try:
        st = os.stat(path)
    except OSError as e:
        return '{"image":%s,"size":0,"mtime_ns":0,"error":%s}\n' % (_json(path), _json(os.strerror(e.errno or 0)))
    if not stat.S_ISREG(st.st_mode):
        return '{"image":%s,"size":0,"mtime_ns":0,"error":"not a regular file"}\n' % _json(path)
    head = '{"image":%s,"size":%d,"mtime_ns":%d' % (_json(path), st.st_size, st.st_mtime_ns)
    try:
        image = Image(path, options)
    except QorvexError as e:
        return head + ',"error":"not opened","code":%d}\n' % e.code
    with image:
        return head + _listing_json(image, algorithm, verify) + "\n"
