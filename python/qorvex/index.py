"""The index line of one image, as `qorvex index` writes it."""

from __future__ import annotations

import json
import os
import stat
from typing import Iterable, Optional

from . import _lib
from .image import Entry, Image, QorvexError


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
    # The host escapes DEL as well.
    return json.dumps(text, ensure_ascii=False).replace("\x7f", "\\u007f")


def _entry_json(image: Image, entry: Entry, algorithm: Optional[str]) -> str:
    out = '{"path":%s,"type":"%s","size":%d,"date":%s' % (
        _json(entry.path), entry.type, entry.size, "null" if entry.seconds is None else str(entry.seconds))
    if entry.mode is not None:
        out += ',"mode":%d' % entry.mode
    if entry.type == "link":
        out += ',"link":' + _json(entry.link_target or "")
    if entry.type == "file" and algorithm:
        try:
            out += ',"%s":"%s"' % (algorithm, image.hash_current(algorithm))
        except QorvexError as e:
            out += ',"code":%d' % e.code
    return out + "}"


def _listing_json(image: Image, algorithm: Optional[str]) -> str:
    tracks = []
    for track in image.tracks():
        systems = []
        for fs in image.file_systems(track.index):
            entries = [_entry_json(image, e, algorithm) for e in image.walk(track.index, fs.kind)]
            systems.append('{"fs":"%s","label":%s,"entries":[%s]}' % (fs.keyword, _json(fs.label), ",".join(entries)))
        tracks.append('{"track":%d,"session":%d,"format":"%s","start":%d,"end":%d,"file_systems":[%s]}' % (
            track.number, track.session, track.format, track.start, track.end, ",".join(systems)))
    return ',"container":%s,"tracks":[%s]}' % (_json(image.container), ",".join(tracks))


def index_line(path: str, algorithm: Optional[str] = "sha256", options: int = _lib.OPEN_EXTENSIONS) -> str:
    """One image's JSON line (with its newline); an image that cannot be read gets a line saying why."""
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
        return head + _listing_json(image, algorithm) + "\n"
