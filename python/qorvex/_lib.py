"""The engine library bound through ctypes: its records, exports and constants."""

from __future__ import annotations

import ctypes
import os
from typing import Any, Optional

OPEN_CHECK_EDC = 0x00000001
OPEN_CHECK_POSITION = 0x80000000
OPEN_SALVAGE = 0x00001000
OPEN_EXTENSIONS = 0x00001F00

KIND_AUTO, KIND_ISO9660, KIND_JOLIET, KIND_UDF, KIND_ROCKRIDGE = 0, 1, 2, 4, 8
KIND_KEYWORDS = {KIND_ISO9660: "iso9660", KIND_JOLIET: "joliet", KIND_UDF: "udf", KIND_ROCKRIDGE: "rockridge"}

TRACK_RAW, TRACK_WAV, TRACK_PREGAP = 0x20000, 0x40000, 0x80000
CALLBACK_DATA = 1
EX_MULTI_EXTENT, EX_POSIX, EX_HAS_DATE, EX_DAMAGED = 0x0002, 0x0004, 0x0080, 0x0100
COPY_JOINED, COPY_KEEP_OPEN = 0x0001, 0x0002
EX_SALVAGED = 0x0001
RAW_CHECK = 0x0001
SECTOR_UNCHECKED, SECTOR_ADDRESS, SECTOR_EDC, SECTOR_FAULTS = 0x0001, 0x0004, 0x0010, 0x013E
EX_TEXT_SHEET = 5
TYPE_WORDS = {1: "file", 2: "folder", 3: "link", 4: "special"}

# The engine's sector format codes, in code order.
FORMAT_NAMES = (
    "AUDIO", "DATA", "MODE0", "MODE1/2352", "MODE2", "MODE2/2352", "MODE2FORM1/2352", "MODE2FORM2/2352",
    "MODE0/2336", "MODE1/2048", "MODE2/2336", "MODE2/2048", "MODE2/2324", "MODE2/2336", "AUDIO/2448",
    "MODE1/2448", "MODE2/2448", "MODE2FORM1/2448", "MODE2FORM2/2448", "DVD", "UNKNOWN",
)


def format_name(code: int) -> str:
    return FORMAT_NAMES[code] if 0 <= code < len(FORMAT_NAMES) else "UNKNOWN"


class EntryInfo(ctypes.Structure):
    _pack_ = 1
    _fields_ = [
        ("kind", ctypes.c_int32), ("size_low", ctypes.c_uint32), ("size_high", ctypes.c_uint32),
        ("start", ctypes.c_int32), ("sectors", ctypes.c_int32), ("offset", ctypes.c_int32),
        ("extent_count", ctypes.c_uint16), ("extent_index", ctypes.c_uint16),
        ("attributes", ctypes.c_int32), ("time", ctypes.c_int32),
        ("name", ctypes.c_char * 1024), ("wname", ctypes.c_uint16 * 1024),
    ]


class TrackInfo(ctypes.Structure):
    _pack_ = 1
    _fields_ = [
        ("format", ctypes.c_int32), ("first_held", ctypes.c_int32), ("start", ctypes.c_int32),
        ("end_held", ctypes.c_int32), ("user_size", ctypes.c_int32), ("session", ctypes.c_uint8),
        ("track", ctypes.c_uint8), ("reserved1", ctypes.c_uint8 * 4), ("reserved2", ctypes.c_int32 * 3),
    ]


class ExEntry(ctypes.Structure):
    _pack_ = 1
    _fields_ = [
        ("struct_size", ctypes.c_uint32), ("flags", ctypes.c_uint32), ("iso_file_flags", ctypes.c_uint32),
        ("mode", ctypes.c_uint32), ("links", ctypes.c_uint32), ("uid", ctypes.c_uint32), ("gid", ctypes.c_uint32),
        ("serial", ctypes.c_uint64), ("device", ctypes.c_uint64), ("modified", ctypes.c_int64),
        ("accessed", ctypes.c_int64), ("changed", ctypes.c_int64), ("created", ctypes.c_int64),
        ("name_length", ctypes.c_uint32), ("link_target", ctypes.c_char * 4096),
        ("type", ctypes.c_uint32), ("path_offset", ctypes.c_uint32),
    ]


class ExRange(ctypes.Structure):
    _fields_ = [("offset", ctypes.c_uint64), ("length", ctypes.c_uint64)]


class ExSalvage(ctypes.Structure):
    _fields_ = [
        ("struct_size", ctypes.c_uint32), ("flags", ctypes.c_uint32), ("held_end", ctypes.c_int64),
        ("recorded_end", ctypes.c_int64), ("part_bytes", ctypes.c_int64), ("failed", ctypes.c_int32),
        ("notes", ctypes.c_char * 2048),
    ]


assert ctypes.sizeof(EntryInfo) == 3108 and ctypes.sizeof(TrackInfo) == 38 and ctypes.sizeof(ExSalvage) == 2088

ProgressCallback = ctypes.CFUNCTYPE(ctypes.c_int32, ctypes.c_int32, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int32)

_I32, _P = ctypes.c_int32, ctypes.c_void_p
_PROTOTYPES = {
    "QorvexOpen": (_P, [ctypes.c_char_p, ctypes.c_uint32, ctypes.POINTER(_I32)]),
    "QorvexClose": (_I32, [_P]),
    "QorvexSetCallback": (_I32, [_P, ProgressCallback, _P]),
    "QorvexGetFileCount": (_I32, [_P, _I32, _I32]),
    "QorvexGetFileStart": (_I32, [_P, _I32, _I32]),
    "QorvexGetNextFile": (_I32, [_P, ctypes.POINTER(EntryInfo)]),
    "QorvexExtractCurrentFile2": (_I32, [_P, ctypes.c_char_p, _I32]),
    "QorvexGetImageInformation": (
        _I32, [_P, _I32, _I32, ctypes.c_char_p, ctypes.POINTER(_I32), ctypes.POINTER(ctypes.c_int64)]),
    "QorvexGetTrackCount": (_I32, [_P]),
    "QorvexGetTrackInfo": (_I32, [_P, _I32, ctypes.POINTER(TrackInfo)]),
    "QorvexExtractTrack": (_I32, [_P, _I32, ctypes.c_char_p, ctypes.c_uint32]),
    "QorvexExGetCurrentFile": (_I32, [_P, ctypes.POINTER(ExEntry)]),
    "QorvexExGetTrackText": (_I32, [_P, _I32, _I32, ctypes.c_char_p, _I32]),
    "QorvexExCopyFile": (
        _I32, [_P, _I32, _I32, _I32, ctypes.c_ssize_t, ctypes.c_uint64, ctypes.c_uint32, ProgressCallback, _P]),
    "QorvexExReadFile": (
        _I32, [_P, _I32, _I32, _I32, ctypes.c_uint64, _P, ctypes.c_uint32, ctypes.c_uint32,
               ctypes.POINTER(ctypes.c_uint32)]),
    "QorvexExGetDamage": (_I32, [_P, _I32, _I32, _I32, ctypes.c_uint32, ctypes.POINTER(ExRange), _I32]),
    "QorvexExGetSalvage": (_I32, [_P, _I32, ctypes.POINTER(ExSalvage)]),
    "QorvexExGetRawSectorSize": (_I32, [_P, _I32]),
    "QorvexExReadRawSectors": (
        _I32, [_P, _I32, _I32, _I32, _P, ctypes.c_int64, ctypes.c_uint32, ctypes.POINTER(ctypes.c_uint32)]),
}


def _candidates() -> list[str]:
    """QORVEX_LIBRARY first, then the library installed beside this package, then the system's search."""
    found = [os.environ["QORVEX_LIBRARY"]] if os.environ.get("QORVEX_LIBRARY") else []
    try:
        from . import _location  # written by the install rule

        found.append(os.path.normpath(os.path.join(os.path.dirname(__file__), _location.LIBRARY)))
    except ImportError:
        pass
    return found + ["libqorvex.so.1"]


# Calls that only read the handle's listing keep the GIL: releasing and taking it back around each of thousands
# of short calls costs more than the call whenever another thread (a Dask worker's event loop) wants it too.
_QUICK = {"QorvexGetFileCount", "QorvexGetNextFile", "QorvexGetImageInformation", "QorvexGetTrackCount",
          "QorvexGetTrackInfo", "QorvexExGetCurrentFile", "QorvexExGetTrackText", "QorvexSetCallback",
          "QorvexExGetDamage", "QorvexExGetSalvage", "QorvexExGetRawSectorSize"}


class Engine:
    """The exports, each bound with its prototype."""

    def __getattr__(self, name: str) -> Any:
        raise AttributeError(name)


def _load() -> Engine:
    errors = []
    for name in _candidates():
        try:
            released, held = ctypes.CDLL(name), ctypes.PyDLL(name)
        except OSError as e:
            errors.append(str(e))
            continue
        engine = Engine()
        for export, (restype, argtypes) in _PROTOTYPES.items():
            function = getattr(held if export in _QUICK else released, export)
            function.restype, function.argtypes = restype, argtypes
            setattr(engine, export, function)
        return engine
    raise OSError("the qorvex engine library was not found: " + "; ".join(errors))


_library: Optional[Engine] = None


def lib() -> Engine:
    global _library
    if _library is None:
        _library = _load()
    return _library
