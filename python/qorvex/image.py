"""An open disc image: tracks, file systems, entry walks, file streams and extraction."""

from __future__ import annotations

import ctypes
import datetime
import hashlib
import os
import tempfile
import threading
from dataclasses import dataclass
from typing import IO, Iterator, Optional

from . import _lib
from ._lib import lib


class QorvexError(Exception):
    """An engine call failed; `code` is the engine's result code."""

    def __init__(self, what: str, code: int) -> None:
        super().__init__(f"{what}: engine result 0x{code:04x}")
        self.code = code


@dataclass(frozen=True)
class Track:
    index: int  # 0-based, as the engine counts
    number: int
    session: int
    format: str
    start: int
    end: int


@dataclass(frozen=True)
class Salvage:
    """What the open made of a track that was cut short or damaged."""

    held_end: int  # the sector just after the last one the image holds
    recorded_end: int  # the end its structures record (0: none)
    part_bytes: int  # bytes of an incomplete last sector
    failed: int  # structures that could not be read
    notes: list[str]  # what failed and the fallback used


@dataclass(frozen=True)
class Verification:
    """Every stored sector read and checked (the tracks together), as `qorvex verify` counts them."""

    checked: bool  # some track's format carries a sync, header or EDC to check
    sectors: int
    good: int
    edc_errors: int
    address_errors: int
    unreadable: int  # sectors the files end before
    error: Optional[str] = None  # a track that could not be scanned (the counts are then 0)


@dataclass(frozen=True)
class FileSystem:
    track: int
    kind: int
    keyword: str  # "iso9660", "joliet", "udf", "rockridge"
    label: str
    files: int


@dataclass(frozen=True)
class Entry:
    track: int
    kind: int
    index: int  # position in the file walk
    path: str  # image path with "\" separators
    type: str  # "file", "folder", "link", "special" or "other"
    size: int
    seconds: Optional[int]  # the recorded date, seconds since 1970 UTC
    mode: Optional[int]  # POSIX st_mode when recorded
    link_target: Optional[str]
    extent_count: int = 1  # UDF: the extents its file is listed in, once each
    more_extents: bool = False  # ISO 9660 / Joliet: the file goes on in the next record
    damaged: bool = False  # the image lacks bytes of it (Image.missing tells which)

    @property
    def date(self) -> Optional[datetime.datetime]:
        if self.seconds is None:
            return None
        return datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc) + datetime.timedelta(seconds=self.seconds)


_IN_MEMORY = 64 << 20


class _Chunk(threading.local):
    """One read buffer per thread."""

    def __init__(self) -> None:
        self.buffer = ctypes.create_string_buffer(256 * 1024)


_CHUNK = _Chunk()


def _text(raw: bytes) -> str:
    return raw.decode("utf-8", "replace")


def _safe_components(path: str) -> list[str]:
    """An image path's components as names in a folder: empty, "." and ".." dropped, "/" and NUL replaced."""
    parts = [p.replace("/", "_").replace("\0", "_") for p in path.split("\\")]
    return [p for p in parts if p not in ("", ".", "..")]


class Image:
    """One open image. A walk moves the handle's cursor: use one Image per thread."""

    def __init__(self, path: str, options: int = _lib.OPEN_EXTENSIONS) -> None:
        error = ctypes.c_int32(0)
        self.path = path
        self._handle = lib().QorvexOpen(os.fsencode(path), options, ctypes.byref(error))
        if not self._handle:
            raise QorvexError(f"cannot open {path}", error.value or 0x8123)

    def close(self) -> None:
        if self._handle:
            lib().QorvexClose(self._handle)
            self._handle = None

    def __enter__(self) -> "Image":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __del__(self) -> None:
        self.close()

    @property
    def container(self) -> str:
        """The disc sheet's kind ("cue", "toc", "ccd", "nrg", ...) or "plain"."""
        text = ctypes.create_string_buffer(64)
        n = lib().QorvexExGetTrackText(self._handle, -1, _lib.EX_TEXT_SHEET, text, len(text))
        return _text(text.value) if n > 0 else "plain"

    def tracks(self) -> list[Track]:
        found = []
        for t in range(lib().QorvexGetTrackCount(self._handle)):
            info = _lib.TrackInfo()
            lib().QorvexGetTrackInfo(self._handle, t, ctypes.byref(info))
            found.append(Track(t, info.track, info.session, _lib.format_name(info.format), info.start, info.end_held))
        return found

    def file_systems(self, track: int) -> list[FileSystem]:
        found = []
        for kind, keyword in _lib.KIND_KEYWORDS.items():
            files = lib().QorvexGetFileCount(self._handle, track, kind)
            if files <= 0:
                continue
            label = ctypes.create_string_buffer(33)
            sectors, size = ctypes.c_int32(), ctypes.c_int64()
            lib().QorvexGetImageInformation(self._handle, track, kind, label, ctypes.byref(sectors), ctypes.byref(size))
            found.append(FileSystem(track, kind, keyword, _text(label.value), files))
        return found

    def walk(self, track: int, kind: int) -> Iterator[Entry]:
        """The file walk of one file system; the cursor stands on each entry while it is yielded."""
        count = lib().QorvexGetFileStart(self._handle, track, kind)
        for i in range(max(count, 0)):
            info = _lib.EntryInfo()
            left = lib().QorvexGetNextFile(self._handle, ctypes.byref(info))
            yield self._entry(track, kind, i, info)
            if left == 0:
                break

    def _entry(self, track: int, kind: int, index: int, info: _lib.EntryInfo) -> Entry:
        ex = _lib.ExEntry()
        ex.struct_size = ctypes.sizeof(ex)
        name = info.name
        if lib().QorvexExGetCurrentFile(self._handle, ctypes.byref(ex)) != 0:
            seconds = info.time or None
            return Entry(track, kind, index, _text(name), "other", _size(info), seconds, None, None,
                         info.extent_count)
        path = name[ex.path_offset:] if ex.path_offset <= len(name) else name
        kind_word = _lib.TYPE_WORDS.get(ex.type, "other")
        return Entry(
            track, kind, index, _text(path), kind_word, _size(info),
            ex.modified if ex.flags & _lib.EX_HAS_DATE else None,
            ex.mode if ex.flags & _lib.EX_POSIX else None,
            _text(ex.link_target) if kind_word == "link" else None,
            info.extent_count, bool(ex.flags & _lib.EX_MULTI_EXTENT), bool(ex.flags & _lib.EX_DAMAGED),
        )

    def salvage(self, track: int) -> Optional[Salvage]:
        """What was salvaged of a cut or damaged track; None when the track is whole."""
        s = _lib.ExSalvage()
        s.struct_size = ctypes.sizeof(s)
        if lib().QorvexExGetSalvage(self._handle, track, ctypes.byref(s)) != 0 or not s.flags & _lib.EX_SALVAGED:
            return None
        notes = [line for line in _text(s.notes).split("\n") if line]
        return Salvage(s.held_end, s.recorded_end, s.part_bytes, s.failed, notes)

    def missing(self, entry: Entry, joined: bool = False) -> list[tuple[int, int]]:
        """The (offset, length) byte ranges of an entry the image lacks; with `joined`, of all the extents of a UDF
        file together."""
        flags = _lib.COPY_JOINED if joined else 0
        n = lib().QorvexExGetDamage(self._handle, entry.track, entry.kind, entry.index, flags, None, 0)
        if n <= 0:
            return []
        ranges = (_lib.ExRange * n)()
        got = lib().QorvexExGetDamage(self._handle, entry.track, entry.kind, entry.index, flags, ranges, n)
        n = max(0, min(n, got))
        return [(r.offset, r.length) for r in ranges[:n]]

    def update_digest(self, entry: Entry, digest: "hashlib._Hash", joined: bool = False) -> None:
        """Feeds an entry's bytes (with `joined`, those of all the extents of a UDF file) to a hashlib digest."""
        flags = _lib.COPY_KEEP_OPEN | (_lib.COPY_JOINED if joined else 0)
        chunk = len(_CHUNK.buffer)
        done, at = ctypes.c_uint32(), 0
        while True:
            result = lib().QorvexExReadFile(self._handle, entry.track, entry.kind, entry.index, at, _CHUNK.buffer,
                                            chunk, flags, ctypes.byref(done))
            if result:
                raise QorvexError(f"reading {entry.path}", result)
            digest.update(memoryview(_CHUNK.buffer)[:done.value])
            if done.value < chunk:
                return
            at += done.value

    def verify(self) -> Verification:
        """Reads every stored sector and checks its sync, header address and EDC as its track's format carries them."""
        run, largest = 512, 2448
        buffer = ctypes.create_string_buffer(run * largest)
        status = (ctypes.c_uint32 * run)()
        tracks = []
        for t in range(lib().QorvexGetTrackCount(self._handle)):
            info = _lib.TrackInfo()
            if lib().QorvexGetTrackInfo(self._handle, t, ctypes.byref(info)) != 0 or \
                    lib().QorvexExGetRawSectorSize(self._handle, t) <= 0:
                return Verification(False, 0, 0, 0, 0, 0, f"track {t + 1} cannot be read")
            tracks.append((t, info.first_held, info.end_held))
        checked, counts = False, [0, 0, 0, 0, 0]  # sectors, good, EDC, address, unreadable
        for t, first, end in tracks:
            counts[0] += max(0, end - first)
            any_checked = False
            for sector in range(first, end, run):
                want = min(run, end - sector)
                got = lib().QorvexExReadRawSectors(self._handle, t, sector, want, buffer, len(buffer), _lib.RAW_CHECK,
                                                   status)
                for bits in status[:max(got, 0)]:
                    any_checked |= not bits & _lib.SECTOR_UNCHECKED
                    faults = bits & _lib.SECTOR_FAULTS
                    counts[1] += not faults
                    counts[2] += bool(faults & _lib.SECTOR_EDC)
                    counts[3] += bool(faults & _lib.SECTOR_ADDRESS)
                if got < want:  # the files end early: the rest is unreadable
                    counts[4] += end - (sector + max(got, 0))
                    break
            checked |= any_checked and end > first
        return Verification(checked, *counts)

    def hash_current(self, algorithm: str) -> str:
        """The digest of the bytes of the entry the walk stands on."""
        digest = hashlib.new(algorithm)

        def block(kind: int, _user: Optional[int], data: Optional[int], length: int) -> int:
            if kind == _lib.CALLBACK_DATA and length > 0 and data:
                digest.update(ctypes.string_at(data, length))
            return 1

        callback = _lib.ProgressCallback(block)
        lib().QorvexSetCallback(self._handle, callback, None)
        try:
            result = lib().QorvexExtractCurrentFile2(self._handle, None, 1)
        finally:
            lib().QorvexSetCallback(self._handle, _lib.ProgressCallback(), None)
        if result:
            raise QorvexError("reading the entry", result)
        return digest.hexdigest()

    def _copy(self, entry: Entry, fd: int) -> None:
        result = lib().QorvexExCopyFile(
            self._handle, entry.track, entry.kind, entry.index, fd, 0, 0, _lib.ProgressCallback(), None)
        if result:
            raise QorvexError(f"copying {entry.path}", result)

    def open(self, entry: Entry) -> IO[bytes]:
        """The entry's bytes as a seekable stream, copied first into memory (small files) or a private temporary
        file."""
        if entry.size <= _IN_MEMORY:
            stream: IO[bytes] = os.fdopen(os.memfd_create("qorvex", os.MFD_CLOEXEC), "w+b")
        else:
            stream = tempfile.TemporaryFile()
        try:
            self._copy(entry, stream.fileno())
        except BaseException:
            stream.close()
            raise
        stream.seek(0)
        return stream

    def hash(self, entry: Entry, algorithm: str = "sha256") -> str:
        """The digest of an entry's bytes (any algorithm hashlib knows)."""
        with self.open(entry) as stream:
            return hashlib.file_digest(stream, algorithm).hexdigest()

    def extract(self, entry: Entry, folder: str) -> str:
        """Writes a file entry below `folder` under its image path. Folders are entered without following links
        and the file is created exclusively, so nothing is written outside `folder` or through a link."""
        names = _safe_components(entry.path)
        if not names or entry.type != "file":
            raise ValueError(f"{entry.path!r} is not a file that can be extracted")
        dir_fd = os.open(folder, os.O_RDONLY | os.O_DIRECTORY)
        try:
            for name in names[:-1]:
                try:
                    os.mkdir(name, 0o777, dir_fd=dir_fd)
                except FileExistsError:
                    pass
                inner = os.open(name, os.O_RDONLY | os.O_DIRECTORY | os.O_NOFOLLOW, dir_fd=dir_fd)
                os.close(dir_fd)
                dir_fd = inner
            fd = os.open(names[-1], os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW, 0o666, dir_fd=dir_fd)
            try:
                self._copy(entry, fd)
            except BaseException:
                os.close(fd)
                os.unlink(names[-1], dir_fd=dir_fd)
                raise
            os.close(fd)
            if entry.seconds is not None:
                os.utime(names[-1], (entry.seconds, entry.seconds), dir_fd=dir_fd)
        finally:
            os.close(dir_fd)
        return os.path.join(folder, *names)

    def extract_track(self, track: int, path: str, raw: bool = False, wav: bool = False, pregap: bool = False) -> None:
        """Writes a track to `path` (user data, or whole sectors with raw, a WAV header with wav)."""
        flags = (_lib.TRACK_RAW if raw else 0) | (_lib.TRACK_WAV if wav else 0) | (_lib.TRACK_PREGAP if pregap else 0)
        result = lib().QorvexExtractTrack(self._handle, track, os.fsencode(path), flags)
        if result:
            raise QorvexError(f"extracting track {track + 1}", result)


def _size(info: _lib.EntryInfo) -> int:
    return (info.size_high << 32) | info.size_low
