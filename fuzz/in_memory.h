// Shared inputs of the parser-level fuzz targets: readers called on bytes in memory, without opening an image,
// writing the input to a file or extracting anything, so that a target runs thousands of inputs a second.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/status.h"
#include "model/stored_source.h"
#include "sheets/sheet_folder.h"

namespace fuzz {

// The input laid from sector `first` of a 2048-byte track of at least `sectors` sectors (zeros around it),
// in a buffer kept for the next input.
std::vector<uint8_t> &LayFrom(const uint8_t *data, size_t size, size_t first, size_t sectors);

// The input as sectors of a 2048-byte track of `sectors` to `most` sectors: records of a sector number (16 bits,
// little-endian, taken modulo `most`), a length (16 bits) and that many bytes laid from the start of the sector
// on (running into the next ones when longer); the rest is zeros. A volume's structures fill a few bytes of a
// few sectors, so its input stays a few KiB however large the volume is, and libFuzzer's own work per input
// (copies, hashes) stays small.
std::vector<uint8_t> &LaySectors(const uint8_t *data, size_t size, size_t sectors, size_t most);

// A UDF track around the input: a recognition sequence in sectors 16-18 and anchors at 256 and at the last
// sector pointing to a main sequence at sector 32 and a reserve at 48; every other block whose tag names a
// known descriptor gets a correct CRC, so that mutations reach past the CRC test. LayUdf lays the input from
// sector 19 (the whole-pipeline fuzz_udf), LayUdfSectors as LaySectors records.
std::vector<uint8_t> &LayUdf(const uint8_t *data, size_t size);
std::vector<uint8_t> &LayUdfSectors(const uint8_t *data, size_t size);

// Runs the file-system readers a track scan would run with `options` (ISO 9660 and Joliet always; El Torito,
// Rock Ridge and UDF as the bits and `udf` say) over a 2048-byte track held in `image`.
void ReadVolumes(const std::vector<uint8_t> &image, uint32_t options, bool udf);

// The folder a sheet's files are found in: disc.bin, disc.img, disc.sub, disc.wav, disc.cdt, disc.mdf and
// disc.md1, made once per process (removed when it exits normally), so that the sheet readers find what they
// name without a file being written per input.
const qorvex::sheets::SheetFolder &SheetFiles();
// Its path, ending with a separator.
const std::string &SheetFolderPath();

// A container reader's open function (engine/containers/), and those of the CHD reader (the decoded stream,
// its tracks left out), the ECM reader and the ISZ reader.
using OpenContainer = qorvex::Status (*)(const std::string &path, std::shared_ptr<qorvex::StoredSource> *source);
qorvex::Status OpenChdStream(const std::string &path, std::shared_ptr<qorvex::StoredSource> *source);
qorvex::Status OpenEcmStream(const std::string &path, std::shared_ptr<qorvex::StoredSource> *source);
qorvex::Status OpenIszStream(const std::string &path, std::shared_ptr<qorvex::StoredSource> *source);
// This process's scratch container file *.<extension>.
std::string ContainerPath(const std::string &extension);
// Writes the bytes to `path`, opens it with `open` and reads its decoded stream in blocks that straddle chunks and
// sectors, up to `most` bytes; false when it does not open. The caller removes the file.
bool ReadContainer(const uint8_t *data, size_t size, const std::string &path, OpenContainer open, int64_t most);

}  // namespace fuzz
