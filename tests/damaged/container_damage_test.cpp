// Containers that claim far more than they hold: a few KiB of ISZ said to be a 4 GiB image of 8 MiB chunks, or a
// CHD of a 4 GiB image whose hunks all repeat the first, opens and lists within the bounded memory, its chunks
// decoded a few at a time. Damaged CHD files fail with a clear code.
#include <gtest/gtest.h>

#include "qorvex.h"
#include "qorvex_ext.h"
#include "support/container_writers.h"
#include "support/harness/damage_harness.h"
#include "support/iso_builder.h"
#include "support/temp_dir.h"

namespace damaged {
namespace {

using qorvex::test::ChdHunk;
using qorvex::test::IszChunk;

std::string ListReport(QorvexHandle h) {
    char label[33] = {};
    int32_t sectors = 0;
    int64_t bytes = 0;
    QorvexGetImageInformation(h, 0, KIND_ISO9660, label, &sectors, &bytes);
    return std::to_string(QorvexGetFileCount(h, 0, KIND_ISO9660)) + " " + label;
}

std::vector<uint8_t> TextIso() {
    std::string text;
    for (int i = 0; text.size() < 100000; ++i) text += "row " + std::to_string(i) + "\n";
    return qorvex::test::BuildIso({qorvex::test::File("A.TXT;1", text)}).bytes;
}

TEST(ContainerDamage, IszClaimingGigabytesStaysInBoundedMemory) {
    qorvex::test::TempDir dir;
    std::vector<uint8_t> iso = TextIso();
    constexpr uint32_t kChunk = 8u << 20, kChunks = 512;  // 4 GiB
    iso.resize(kChunk);
    const std::vector<uint8_t> one = qorvex::test::EncodeIsz(iso, kChunk, {IszChunk::kZlib});
    // The same first chunk, then 511 chunks of zeros that take no bytes in the file.
    constexpr size_t kHeader = 64, kPointer = 3;
    const uint8_t key[4] = {0xB6, 0x8C, 0xA5, 0xDE};
    std::vector<uint8_t> isz(one.begin(), one.begin() + kHeader);
    Put32Le(&isz[12], kChunks * (kChunk / 2048));
    Put32Le(&isz[25], kChunks);
    Put32Le(&isz[43], kHeader + kChunks * kPointer);
    std::vector<uint8_t> table(kChunks * kPointer, 0);
    for (size_t i = 0; i < kPointer; ++i) table[i] = one[kHeader + i] ^ key[i % 4];
    for (size_t i = 0; i < table.size(); ++i) isz.push_back(table[i] ^ key[i % 4]);
    isz.insert(isz.end(), one.begin() + kHeader + kPointer, one.end());
    ASSERT_LT(isz.size(), 64u * 1024);
    qorvex::test::WriteFile(dir / "big.isz", isz);
    const std::string path = dir / "big.isz";
    EXPECT_EQ(RunWatched([&] { return WithOpen(path, OPEN_DISC_SHEETS, ListReport); }), "1 QORVEX");
}

void PutBe(std::vector<uint8_t> &bytes, size_t at, uint64_t v, int n) {
    for (int i = 0; i < n; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * (n - 1 - i)));
}

uint64_t GetBe(const std::vector<uint8_t> &bytes, size_t at, int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = v << 8 | bytes[at + i];
    return v;
}

TEST(ContainerDamage, ChdClaimingGigabytesStaysInBoundedMemory) {
    qorvex::test::TempDir dir;
    qorvex::test::ChdLayout layout;
    layout.logical = uint64_t(4) << 30;
    layout.hunk_bytes = 1u << 20;
    const std::vector<uint8_t> chd =
        qorvex::test::EncodeChd(TextIso(), {{ChdHunk::kZlib}, {ChdHunk::kSelf, 0}}, layout);
    ASSERT_LT(chd.size(), 64u * 1024);
    qorvex::test::WriteFile(dir / "big.chd", chd);
    const std::string path = dir / "big.chd";
    EXPECT_EQ(RunWatched([&] { return WithOpen(path, OPEN_DISC_SHEETS, ListReport); }), "1 QORVEX");
}

TEST(ContainerDamage, DamagedChdFailsClearly) {
    qorvex::test::TempDir dir;
    const std::vector<uint8_t> iso = TextIso();
    const std::vector<ChdHunk> kinds = {{ChdHunk::kZlib}, {ChdHunk::kStored}, {ChdHunk::kZlib}};
    const std::vector<uint8_t> good = qorvex::test::EncodeChd(iso, kinds, {});
    const size_t map_at = static_cast<size_t>(GetBe(good, 40, 8));
    const uint64_t first = GetBe(good, map_at + 4, 6);
    qorvex::test::ChdLayout with_parent;
    with_parent.parent = true;
    // GD-ROM tracks whose padding is the whole track, or not given.
    qorvex::test::ChdLayout all_pad, no_pad;
    all_pad.hunk_bytes = no_pad.hunk_bytes = 4 * 2448;
    all_pad.unit_bytes = no_pad.unit_bytes = 2448;
    const std::string track = "TRACK:1 TYPE:MODE1_RAW SUBTYPE:NONE FRAMES:8 PREGAP:0 PGTYPE:MODE1 PGSUB:NONE POSTGAP:0";
    all_pad.metadata = {{"CHGD", track + " PAD:8"}};
    no_pad.metadata = {{"CHGD", track}};
    const std::vector<uint8_t> frames(8 * 2448);
    qorvex::test::ChdLayout v4, v4_parent;
    v4.version = v4_parent.version = 4;
    v4_parent.parent = true;
    const std::vector<uint8_t> good4 = qorvex::test::EncodeChd(iso, kinds, v4);
    struct Case {
        const char *what;
        std::vector<uint8_t> bytes;
        std::string expected;
    } cases[] = {
        {"whole", good, "1 QORVEX"},
        {"map cut short", std::vector<uint8_t>(good.begin(), good.end() - 3), "open " + Code(ENGINE_UNKNOWN_FORMAT)},
        {"map CRC wrong", good, "open " + Code(ENGINE_UNKNOWN_FORMAT)},
        {"hunks past the file", good, "open " + Code(ENGINE_UNKNOWN_FORMAT)},
        {"deflate streams damaged", good, "open " + Code(ENGINE_UNKNOWN_FORMAT)},
        {"a hunk the same as itself", qorvex::test::EncodeChd(iso, {{ChdHunk::kZlib}, {ChdHunk::kSelf, 1}}, {}),
         "open " + Code(ENGINE_UNKNOWN_FORMAT)},
        {"a hunk the same as a later one", qorvex::test::EncodeChd(iso, {{ChdHunk::kSelf, 1}, {ChdHunk::kZlib}}, {}),
         "open " + Code(ENGINE_UNKNOWN_FORMAT)},
        {"a parent CHD", qorvex::test::EncodeChd(iso, kinds, with_parent), "open " + Code(ENGINE_NEEDS_PARENT)},
        {"hunks of 64 MiB", good, "open " + Code(ENGINE_UNKNOWN_FORMAT)},
        {"an image of a petabyte", good, "open " + Code(ENGINE_TOO_LARGE)},
        {"a GD-ROM track all padding", qorvex::test::EncodeChd(frames, {{ChdHunk::kZlib}}, all_pad),
         "open " + Code(ENGINE_UNKNOWN_FORMAT)},
        {"a GD-ROM track without its padding", qorvex::test::EncodeChd(frames, {{ChdHunk::kZlib}}, no_pad),
         "open " + Code(ENGINE_UNKNOWN_FORMAT)},
        {"version 4 whole", good4, "1 QORVEX"},
        {"version 4: a hunk the same as itself", qorvex::test::EncodeChd(iso, {{ChdHunk::kSelf, 0}}, v4),
         "open " + Code(ENGINE_UNKNOWN_FORMAT)},
        {"version 4: a parent CHD", qorvex::test::EncodeChd(iso, kinds, v4_parent), "open " + Code(ENGINE_NEEDS_PARENT)},
        {"version 4: map cut short", std::vector<uint8_t>(good4.begin(), good4.begin() + 120),
         "open " + Code(ENGINE_UNKNOWN_FORMAT)},
        {"version 4: a hunk's CRC wrong", good4, "open " + Code(ENGINE_UNKNOWN_FORMAT)},
    };
    cases[2].bytes[map_at + 10] ^= 0x40;
    PutBe(cases[3].bytes, map_at + 4, good.size() - 10, 6);
    for (uint64_t at = first; at < map_at; ++at) cases[4].bytes[at] ^= 0x5A;
    PutBe(cases[8].bytes, 56, 64u << 20, 4);
    PutBe(cases[9].bytes, 32, uint64_t(1) << 50, 8);
    cases[16].bytes[108 + 4 * 16 + 8] ^= 1;  // the hunk of the volume descriptors
    for (const Case &c : cases) {
        qorvex::test::WriteFile(dir / "x.chd", c.bytes);
        const std::string path = dir / "x.chd";
        EXPECT_EQ(RunWatched([&] { return WithOpen(path, OPEN_DISC_SHEETS, ListReport); }), c.expected) << c.what;
    }
}

}  // namespace
}  // namespace damaged
