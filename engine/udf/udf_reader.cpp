// Recognition sequence, anchors and the order of the UDF reading.
#include "udf/udf_reader.h"

#include <algorithm>
#include <cstring>

#include "qorvex.h"
#include "udf/udf_state.h"
#include "udf/udf_tag.h"

namespace qorvex::udf {

void UdfStateDeleter::operator()(UdfState *state) const {
    delete state;
}

namespace {

// Walks the volume recognition sequence from sector 16; true when NSR02 or NSR03 was seen.
bool ReadRecognition(VolumeScanner &scanner) {
    UdfState &state = *scanner.udf;
    SectorReader &reader = scanner.reader;
    if (reader.UserSize() < 8 || reader.UserSize() > static_cast<int32_t>(scanner.buffer.size())) return false;
    if (!reader.SeekSector(reader.Record().start + 16)) {
        scanner.RecordError(ENGINE_SEEK_FAILED);
        return false;
    }
    for (uint32_t sector = 16;; ++sector) {
        if (reader.ReadSectors(scanner.buffer.data(), 1) == 0) {
            scanner.RecordError(scanner.ReadFailureCode());
            return false;
        }
        const char *id = reinterpret_cast<const char *>(scanner.buffer.data() + 1);
        if (std::memcmp(id, "BEA01", 5) == 0) {
            state.bea01 = sector;
        } else if (std::memcmp(id, "NSR02", 5) == 0) {
            state.nsr02 = sector;
        } else if (std::memcmp(id, "NSR03", 5) == 0) {
            state.nsr03 = sector;
        } else if (std::memcmp(id, "TEA01", 5) == 0) {
            state.tea01 = sector;
        } else if (std::memcmp(id, "CD001", 5) != 0 && std::memcmp(id, "BOOT2", 5) != 0 &&
                   std::memcmp(id, "CDW02", 5) != 0) {
            break;
        }
        if (state.tea01 != 0) break;
    }
    return state.nsr02 != 0 || state.nsr03 != 0;
}

bool ReadAnchor(VolumeScanner &scanner, bool seek_ok) {
    if (!seek_ok) {
        scanner.RecordError(ENGINE_SEEK_FAILED);
        return false;
    }
    if (scanner.reader.ReadSectors(scanner.buffer.data(), 1) == 0) {
        scanner.RecordError(scanner.ReadFailureCode());
        return false;
    }
    const uint8_t *d = scanner.buffer.data();
    if (TagIdentifier(d) == kTagAvdp && DescriptorCrcOk(d, static_cast<size_t>(scanner.reader.UserSize()))) {
        std::array<uint8_t, 32> record{};
        std::copy(d, d + 32, record.begin());
        scanner.udf->anchors.push_back(record);
    }
    return true;
}

// Sector 256, the last sector and the one 256 before it; every position must be readable.
bool ReadAnchors(VolumeScanner &scanner) {
    SectorReader &reader = scanner.reader;
    if (!ReadAnchor(scanner, reader.SeekSector(reader.Record().start + 256))) return false;
    if (!ReadAnchor(scanner, reader.SeekFromEnd(-1))) return false;
    if (!ReadAnchor(scanner, reader.SeekFromEnd(-257))) return false;
    return !scanner.udf->anchors.empty();
}

}  // namespace

int32_t ReadUdf(VolumeScanner &scanner) {
    scanner.udf.reset(new UdfState);
    UdfState &state = *scanner.udf;
    state.base = scanner.reader.Record().start;
    if (!ReadRecognition(scanner)) return 0;
    if (!ReadAnchors(scanner)) return 0;
    const uint8_t *anchor = state.anchors.front().data();
    const ExtentAd main = ReadExtentAd(anchor + 16);
    const ExtentAd reserve = ReadExtentAd(anchor + 24);
    if (!ReadVolumeDescriptorSequence(scanner, main.length, main.location)) return 0;
    if (state.volumes.empty()) return 0;
    const size_t main_volumes = state.volumes.size();
    for (size_t i = 0; i < main_volumes; ++i)
        if (!state.volumes[i]->Read()) return 0;
    ReadSpaceTables(scanner);
    state.reserve_read = false;
    if (reserve.length != 0 && (reserve.length != main.length || reserve.location != main.location)) {
        state.reading_reserve = true;
        if (ReadVolumeDescriptorSequence(scanner, reserve.length, reserve.location)) state.reserve_read = true;
        state.reading_reserve = false;
    }
    return 4;
}

}  // namespace qorvex::udf
