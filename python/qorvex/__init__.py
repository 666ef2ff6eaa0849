"""Disc images (ISO 9660, Joliet, UDF, Rock Ridge, disc sheets) read through the qorvex engine library."""

from ._lib import (KIND_ISO9660, KIND_JOLIET, KIND_ROCKRIDGE, KIND_UDF, OPEN_CHECK_EDC, OPEN_CHECK_POSITION,
                   OPEN_EXTENSIONS, OPEN_SALVAGE)
from .image import Entry, FileSystem, Image, QorvexError, Salvage, Track, Verification
from .index import collect, index_line

__all__ = [
    "Entry", "FileSystem", "Image", "QorvexError", "Salvage", "Track", "Verification", "collect", "index_line",
    "KIND_ISO9660", "KIND_JOLIET", "KIND_UDF", "KIND_ROCKRIDGE", "OPEN_CHECK_EDC", "OPEN_CHECK_POSITION",
    "OPEN_EXTENSIONS", "OPEN_SALVAGE",
]
