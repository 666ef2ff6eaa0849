// CS0 names, UDF timestamps, ISO 9660 dates and Joliet names from arbitrary bytes.
#include <vector>

#include "iso9660/iso_structures.h"
#include "joliet/joliet.h"
#include "udf/udf_structures.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<char16_t> units(size + 1);
    const int32_t n = qorvex::udf::Cs0Decode(size, data, units.data(), units.size());
    if (n > 0) qorvex::udf::UnitsToText(units.data(), static_cast<size_t>(n));
    qorvex::udf::TimestampToUnix(qorvex::ByteView(data, size));
    if (size >= 7) qorvex::iso9660::RecordingDate(data);
    if (size >= 17) qorvex::iso9660::VolumeDate(data);
    qorvex::joliet::ConvertName(qorvex::ByteView(data, size));
    return 0;
}
