#include "support/susp_entries.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <zlib.h>

namespace qorvex::test::susp {

namespace {
void Both32(Bytes &out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
}  // namespace

Bytes Entry(const char *signature, const Bytes &data) {
    Bytes out = {static_cast<uint8_t>(signature[0]), static_cast<uint8_t>(signature[1]),
                 static_cast<uint8_t>(4 + data.size()), 1};
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes Join(std::initializer_list<Bytes> entries) {
    Bytes out;
    for (const Bytes &e : entries) out.insert(out.end(), e.begin(), e.end());
    return out;
}

Bytes Sp(uint8_t skip) {
    return Entry("SP", {0xBE, 0xEF, skip});
}

Bytes Er() {
    const std::string id = "RRIP_1991A";
    Bytes data = {static_cast<uint8_t>(id.size()), 0, 0, 1};
    data.insert(data.end(), id.begin(), id.end());
    return Entry("ER", data);
}

Bytes Px(uint32_t mode, uint32_t links, uint32_t uid, uint32_t gid, std::optional<uint32_t> serial) {
    Bytes data;
    for (uint32_t v : {mode, links, uid, gid}) Both32(data, v);
    if (serial) Both32(data, *serial);
    return Entry("PX", data);
}

Bytes Nm(const std::string &name, uint8_t flags) {
    Bytes data = {flags};
    data.insert(data.end(), name.begin(), name.end());
    return Entry("NM", data);
}

Bytes Sl(const std::vector<std::pair<uint8_t, std::string>> &components, uint8_t flags) {
    Bytes data = {flags};
    for (const auto &[f, text] : components) {
        data.push_back(f);
        data.push_back(static_cast<uint8_t>(text.size()));
        data.insert(data.end(), text.begin(), text.end());
    }
    return Entry("SL", data);
}

Bytes Ce(uint32_t block, uint32_t offset, uint32_t length) {
    Bytes data;
    for (uint32_t v : {block, offset, length}) Both32(data, v);
    return Entry("CE", data);
}

Bytes Cl(uint32_t extent) {
    Bytes data;
    Both32(data, extent);
    return Entry("CL", data);
}

Bytes Re() {
    return Entry("RE", {});
}

Bytes Pn(uint64_t device) {
    Bytes data;
    Both32(data, static_cast<uint32_t>(device >> 32));
    Both32(data, static_cast<uint32_t>(device));
    return Entry("PN", data);
}

Bytes Tf(uint8_t flags, const std::vector<Bytes> &stamps) {
    Bytes data = {flags};
    for (const Bytes &s : stamps) data.insert(data.end(), s.begin(), s.end());
    return Entry("TF", data);
}

Bytes Zf(uint32_t real_size) {
    Bytes data = {'p', 'z', 4, 15};
    Both32(data, real_size);
    return Entry("ZF", data);
}

Bytes St() {
    return Entry("ST", {});
}

Bytes Zisofs(const Bytes &data, uint8_t log2_block) {
    const size_t block = size_t{1} << log2_block;
    const size_t blocks = (data.size() + block - 1) / block;
    Bytes out = {0x37, 0xE4, 0x53, 0x96, 0xC9, 0xDB, 0xD6, 0x07};
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(data.size() >> (8 * i)));
    out.insert(out.end(), {4, log2_block, 0, 0});
    const size_t table = out.size();
    out.resize(table + (blocks + 1) * 4);
    auto put = [&](size_t i, uint32_t v) {
        for (int k = 0; k < 4; ++k) out[table + i * 4 + k] = static_cast<uint8_t>(v >> (8 * k));
    };
    put(0, static_cast<uint32_t>(out.size()));
    for (size_t i = 0; i < blocks; ++i) {
        const size_t from = i * block, n = std::min(block, data.size() - from);
        const bool zeros = std::all_of(data.begin() + from, data.begin() + from + n, [](uint8_t b) { return b == 0; });
        if (!zeros) {
            uLongf length = compressBound(n);
            Bytes packed(length);
            compress(packed.data(), &length, data.data() + from, n);
            out.insert(out.end(), packed.begin(), packed.begin() + length);
        }
        put(i + 1, static_cast<uint32_t>(out.size()));
    }
    return out;
}

size_t SystemUseAt(const IsoImage &image, size_t record) {
    const size_t id = image.bytes.at(record + 32);
    return record + 33 + id + ((id & 1) ? 0 : 1);
}

size_t EntryAt(const IsoImage &image, size_t record, const char *signature) {
    const size_t end = record + image.bytes.at(record);
    for (size_t at = SystemUseAt(image, record); at + 4 <= end && image.bytes[at + 2] >= 4; at += image.bytes[at + 2])
        if (image.bytes[at] == uint8_t(signature[0]) && image.bytes[at + 1] == uint8_t(signature[1])) return at;
    std::abort();
}

}  // namespace qorvex::test::susp
