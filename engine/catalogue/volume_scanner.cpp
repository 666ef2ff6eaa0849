#include "catalogue/volume_scanner.h"

#include "iso9660/iso_scan.h"
#include "qorvex.h"
#include "udf/udf_reader.h"

namespace qorvex {

VolumeScanner::VolumeScanner() = default;
VolumeScanner::~VolumeScanner() = default;

int32_t ScanTrack(const TrackRecord &record, uint32_t options, CatalogueSet &set, SectorReader &volume_reader) {
    auto scanner = std::make_unique<VolumeScanner>();
    int32_t result = 0;
    if (!scanner->reader.SetUp(record, options & OPEN_CHECK_POSITION)) {
        scanner->RecordError(ENGINE_IMAGE_OPEN_FAILED);
    } else {
        scanner->reader.SetEdcCheck((options & OPEN_CHECK_EDC) != 0);
        if (!scanner->reader.IsDataTrack()) {
            result = static_cast<int32_t>(0x80000000u);  // nothing to look for on an audio track
        } else if (!scanner->reader.Open()) {
            scanner->RecordError(ENGINE_IMAGE_OPEN_FAILED);
        } else {
            result = iso9660::ScanIsoAndJoliet(*scanner);
            result |= udf::ReadUdf(*scanner);
            if (result == 0 && scanner->error == 0) scanner->RecordError(ENGINE_UNKNOWN_FORMAT);
            if (!scanner->reader.Close() && scanner->error == 0) scanner->RecordError(ENGINE_IMAGE_CLOSE_FAILED);
        }
    }
    if (result == 0) return scanner->error != 0 ? scanner->error : ENGINE_UNKNOWN_FORMAT;
    if (result & 1) iso9660::BuildIsoLists(*scanner, set);
    if (result & 2) iso9660::BuildJolietLists(*scanner, set);
    if (result & 4) udf::BuildUdfLists(*scanner, set);
    volume_reader.CopyFrom(scanner->reader);
    return 0;
}

}  // namespace qorvex
