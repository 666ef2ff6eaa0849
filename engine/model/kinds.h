// The kind codes of catalogue entries (EntryInfo.kind), the file-system selectors and the sector format codes.
#pragma once

#include <cstdint>

#include "qorvex.h"

namespace qorvex {

// File-system selectors (QorvexGetFileStart and friends).
enum class FileSystem : int32_t {
    kAuto = KIND_AUTO,
    kIso9660 = KIND_ISO9660,
    kJoliet = KIND_JOLIET,
    kUdf = KIND_UDF,
    kRockRidge = KIND_ROCKRIDGE,
};

// Codes 1-6 and 11-15 are ISO 9660 and Joliet, 31-61 UDF, as the base interface lists them. The extended
// formats take their own ranges (named in qorvex_ext.h as well): 7-10 El Torito parts among the ISO 9660
// system parts, 21-29 Rock Ridge, 62-69 UDF 2.x structures, 70-79 disc sheets.
enum class EntryKind : int32_t {
    kNone = 0,
    // ISO 9660
    kIsoFile = 1,
    kIsoFolder = 2,
    kIsoPathTableL = 3,
    kIsoPathTableM = 4,
    kIsoPrimaryDescriptor = 5,
    kIsoTerminator = 6,
    // El Torito (with OPEN_BOOT_IMAGES), among the ISO 9660 system parts
    kBootRecord = 7,
    kBootCatalogue = 8,
    kBootImage = 9,          // named by the initial/default entry
    kBootSectionImage = 10,  // named by a section entry
    // Joliet
    kJolietFile = 11,
    kJolietFolder = 12,
    kJolietPathTableL = 13,
    kJolietPathTableM = 14,
    kJolietDescriptor = 15,
    // Rock Ridge (with OPEN_ROCK_RIDGE)
    kRockRidgeFile = 21,
    kRockRidgeFolder = 22,
    kRockRidgeSymlink = 23,
    kRockRidgeSpecial = 24,  // device, FIFO or socket: listed, never created
    kRockRidgePrimaryDescriptor = 25,
    // UDF
    kUdfFileExtent = 31,
    kUdfFolderExtent = 32,
    kUdfIcb = 33,
    kUdfAnchor = 36,
    kUdfPrimaryDescriptor = 37,
    kUdfImplementationUse = 38,
    kUdfPartition = 39,
    kUdfLogicalVolume = 40,
    kUdfUnallocatedSpace = 41,
    kUdfTerminator = 42,
    kUdfFileSet = 43,
    kUdfIntegrity = 44,
    kUdfPointer = 45,
    kUdfSpaceEntry = 46,
    kUdfSpaceBitmap = 47,
    kUdfBea01 = 50,
    kUdfNsr02 = 52,
    kUdfNsr03 = 53,
    kUdfTea01 = 54,
    kUdfFreeExtent = 61,
    // UDF 2.x (OPEN_UDF_2X)
    kUdfVat = 62,
    kUdfVatEntry = 63,
    kUdfSparingTable = 64,
    kUdfMetadataFile = 65,
    kUdfMetadataMirror = 66,
    kUdfMetadataBitmap = 67,
};

constexpr int32_t KindValue(EntryKind kind) {
    return static_cast<int32_t>(kind);
}

// Sector format codes (TrackRecord.format, TrackInfo.format): the table of image/sector_format.cpp.
enum SectorFormatCode : int32_t {
    kFormatAudio = 0,
    kFormatData = 1,
    kFormatMode0 = 2,
    kFormatMode1_2352 = 3,
    kFormatMode2 = 4,
    kFormatMode2_2352 = 5,
    kFormatMode2Form1_2352 = 6,
    kFormatMode2Form2_2352 = 7,
    kFormatMode0_2336 = 8,
    kFormatMode1_2048 = 9,
    kFormatMode2_2336 = 10,
    kFormatMode2_2048 = 11,
    kFormatMode2_2324 = 12,
    kFormatMode2_2336Xa = 13,
    kFormatAudio2448 = 14,
    kFormatMode1_2448 = 15,
    kFormatMode2_2448 = 16,
    kFormatMode2Form1_2448 = 17,
    kFormatMode2Form2_2448 = 18,
    kFormatDvd = 19,
    kFormatUnknown = 20,
    kFormatCount = 21,
};

}  // namespace qorvex
