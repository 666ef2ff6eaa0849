// SUSP / Rock Ridge entries as bytes, for the system use areas of built images (IsoNode::system_use), and a
// way to find one again in a built image to damage it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/iso_builder.h"

namespace qorvex::test::susp {

using Bytes = std::vector<uint8_t>;

Bytes Entry(const char *signature, const Bytes &data);
Bytes Join(std::initializer_list<Bytes> entries);

Bytes Sp(uint8_t skip = 0);
Bytes Er();  // "RRIP_1991A"
Bytes Px(uint32_t mode, uint32_t links = 1, uint32_t uid = 0, uint32_t gid = 0,
         std::optional<uint32_t> serial = std::nullopt);
Bytes Nm(const std::string &name, uint8_t flags = 0);
// Components as (flags, content): 0x02 ".", 0x04 "..", 0x08 root, 0x01 continued.
Bytes Sl(const std::vector<std::pair<uint8_t, std::string>> &components, uint8_t flags = 0);
Bytes Ce(uint32_t block, uint32_t offset, uint32_t length);
Bytes Cl(uint32_t extent);
Bytes Re();
Bytes Pn(uint64_t device);
Bytes Tf(uint8_t flags, const std::vector<Bytes> &stamps);  // 7 or 17 bytes each
Bytes Zf(uint32_t real_size);
Bytes St();
// A file's data as zisofs stores it (header, block pointers, zlib blocks of 2^log2_block bytes; a block of
// zeros is stored as no bytes).
Bytes Zisofs(const Bytes &data, uint8_t log2_block = 15);

// Byte offset in the image of the system use area of the record at `record`.
size_t SystemUseAt(const IsoImage &image, size_t record);
// Byte offset in the image of the first entry with this signature in that area; aborts when none.
size_t EntryAt(const IsoImage &image, size_t record, const char *signature);

}  // namespace qorvex::test::susp
