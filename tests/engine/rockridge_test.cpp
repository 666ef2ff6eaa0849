// Rock Ridge entries below the public interface (one system use area at a time) and through it (built images
// carrying every entry the reader knows).
#include <gtest/gtest.h>

#include "qorvex.h"
#include "qorvex_ext.h"
#include "rockridge/susp.h"
#include "rockridge/zisofs.h"
#include "support/harness/api_helpers.h"
#include "support/susp_entries.h"
#include "support/temp_dir.h"

namespace qorvex::test {
namespace {

using namespace susp;

rockridge::RecordInfo Parse(const Bytes &area) {
    rockridge::RecordInfo info;
    rockridge::ParseSystemUse(ByteView(area.data(), area.size()), false, info);
    return info;
}

TEST(RockRidgeEntries, LinkTargetsFromTheirComponents) {
    struct Case {
        Bytes area;
        std::string target;
    };
    // (Absolute targets and steps up, as xorriso records them: RockRidgeCli and RockRidgeInterop.)
    const Case cases[] = {
        {Sl({{0x02, ""}, {0, "x"}}), "./x"},
        // A component continued inside one SL and across two, and the link itself continued.
        {Join({Sl({{0x01, "lo"}, {0, "ng"}, {0x01, "na"}}, 0x01), Sl({{0, "me"}, {0, "end"}})}), "long/name/end"},
        // A root after the first component adds nothing: a part never becomes an absolute path.
        {Sl({{0, "a"}, {0x08, ""}, {0, "b"}}), "a/b"},
        // A component whose length runs past the entry ends the link there.
        {Join({Sl({{0, "ok"}}), Bytes{'S', 'L', 9, 1, 0, 0, 200, 'x', 'y'}}), "ok"},
    };
    for (const Case &c : cases) {
        const rockridge::RecordInfo info = Parse(c.area);
        EXPECT_TRUE(info.has_link);
        EXPECT_FALSE(info.link_cut);
        EXPECT_EQ(info.link, c.target);
    }
}

TEST(RockRidgeEntries, NamesStampsAndAttributes) {
    const Bytes stamp = {121, 2, 3, 4, 5, 6, 8};  // 2021-02-03 04:05:06 at +2 h
    const Bytes long_stamp = {'2', '0', '2', '2', '0', '3', '0', '4', '0', '5', '0', '6', '0', '7', '0', '0', 0};
    const rockridge::RecordInfo info =
        Parse(Join({Nm("first ", 0x01), Nm("second"), Px(0100640, 3, 1000, 100, 77), Tf(0x0B, {stamp, stamp, stamp}),
                    Pn((uint64_t(8) << 32) | 1), Tf(0x84, {long_stamp})}));
    // (Mode, owner, serial and device reach the catalogue: RockRidgeCatalogue.EntriesAndTheirDetails.)
    EXPECT_EQ(info.name, "first second");
    EXPECT_EQ(info.links, 3u);
    EXPECT_EQ(info.gid, 100u);
    EXPECT_EQ(info.stamps[rockridge::kTfCreation], 1612317906);  // 2021-02-03T02:05:06Z
    EXPECT_EQ(info.stamps[rockridge::kTfModify], 1612317906);
    EXPECT_EQ(info.stamps[rockridge::kTfAttributes], 1612317906);
    EXPECT_EQ(info.stamps[rockridge::kTfAccess], 1646370367);  // the long form: 2022-03-04T05:06:07Z

    // RRIP 1.10's PX has no serial; ST ends the area. (A name past the bound is no name:
    // RockRidgeDamage.ChainsLoopsFloodsAndBrokenSuspStayBounded.)
    const rockridge::RecordInfo old = Parse(Join({Px(040755), St(), Nm("unread")}));
    EXPECT_TRUE(old.has_px);
    EXPECT_FALSE(old.has_serial);
    EXPECT_FALSE(old.has_name);
}

IsoNode Rr(IsoNode node, uint32_t mode, const Bytes &extra, uint8_t skip = 0) {
    node.system_use = Join({Bytes(skip, 0xAA), Px(mode, 1, 500, 50, 9), extra});
    return node;
}

// Every kind of entry, with the skip length of SP applied to every record after the root's ".".
TEST(RockRidgeCatalogue, EntriesAndTheirDetails) {
    for (uint8_t skip : {0, 3}) {
        SCOPED_TRACE(int(skip));
        IsoOptions o;
        o.root_system_use = Join({Sp(skip), Px(040755, 3)});
        IsoNode folder =
            Rr(Dir("SUB", {Rr(File("IN.TXT;1", "in"), 0100600, Nm("in.txt"), skip)}), 040750, Nm("Sub Folder"), skip);
        folder.self_system_use = Join({Bytes(skip, 0xAA), Px(040750, 2)});
        const IsoImage image =
            BuildIso({Rr(File("A.TXT;1", "alpha"), 0104755, Nm("Alpha\\Beta.txt"), skip),
                      Rr(File("L.;1", ""), 0120777, Join({Nm("link"), Sl({{0, "Sub Folder"}, {0, "in.txt"}})}), skip),
                      Rr(File("D.;1", ""), 0060660, Join({Nm("disk"), Pn(0x0000000800000001ull)}), skip),
                      Rr(File("Z.;1", "stored compressed"), 0100644, Join({Nm("z"), Zf(123456)}), skip), folder},
                     o);
        TempDir dir;
        WriteFile(dir / "rr.iso", image.bytes);
        Opened opened(dir / "rr.iso", OPEN_ROCK_RIDGE);
        ASSERT_TRUE(opened);
        const QorvexHandle h = opened.get();
        // (Folders and their modes: RockRidgeInterop.EntriesEqualWhatBsdtarAndXorrisoRead.)
        const std::vector<Detailed> files = ListDetailed(h, 0, KIND_ROCKRIDGE);
        for (const Detailed &e : files) EXPECT_EQ(e.details, 0) << e.name();
        struct Expected {
            std::string name;
            int32_t kind;
            uint64_t size;
            uint32_t mode, flags;
            std::string target;
        };
        constexpr uint32_t kPosix = QORVEX_EX_POSIX | QORVEX_EX_HARDLINK_SERIAL | QORVEX_EX_HAS_DATE;
        const Expected expected[] = {
            // "\" inside a POSIX name is kept apart from the path separator.
            {"\\Alpha\xEF\xBC\xBC"
             "Beta.txt",
             QORVEX_KIND_RR_FILE, 5, 0104755, kPosix, ""},
            {"\\link", QORVEX_KIND_RR_SYMLINK, 0, 0120777, kPosix | QORVEX_EX_SYMLINK, "Sub Folder/in.txt"},
            {"\\disk", QORVEX_KIND_RR_SPECIAL, 0, 0060660, kPosix | QORVEX_EX_DEVICE, ""},
            {"\\z", QORVEX_KIND_RR_FILE, 123456, 0100644, kPosix | QORVEX_EX_ZISOFS, ""},
            {"\\Sub Folder\\in.txt", QORVEX_KIND_RR_FILE, 2, 0100600, kPosix, ""},
        };
        ASSERT_EQ(files.size(), std::size(expected));
        for (size_t i = 0; i < files.size(); ++i) {
            SCOPED_TRACE(expected[i].name);
            EXPECT_EQ(files[i].name(), expected[i].name);
            EXPECT_EQ(files[i].info.kind, expected[i].kind);
            EXPECT_EQ(files[i].size(), expected[i].size);
            EXPECT_EQ(files[i].ex.mode, expected[i].mode);
            EXPECT_EQ(files[i].ex.flags, expected[i].flags);
            EXPECT_EQ(files[i].ex.type, expected[i].kind == QORVEX_KIND_RR_SYMLINK   ? QORVEX_EX_TYPE_SYMLINK
                                        : expected[i].kind == QORVEX_KIND_RR_SPECIAL ? QORVEX_EX_TYPE_SPECIAL
                                                                                     : QORVEX_EX_TYPE_FILE);
            EXPECT_STREQ(files[i].ex.link_target, expected[i].target.c_str());
            EXPECT_EQ(files[i].ex.uid, 500u);
            EXPECT_EQ(files[i].ex.serial, 9u);
            EXPECT_EQ(files[i].ex.modified, files[i].info.time);
        }
        EXPECT_EQ(files[2].ex.device, 0x0000000800000001ull);

        // Bytes that do not decode are never handed out as if they were the file's.
        EntryInfo e{};
        QorvexGetFileStart(h, 0, KIND_ROCKRIDGE);
        for (int i = 0; i < 4; ++i) QorvexGetNextFile(h, &e);
        EXPECT_EQ(QorvexExtractCurrentFile2(h, (dir / "z").c_str(), 1), ENGINE_READ_FAILED);
    }
}

// zisofs streams: decoded whole, a block of zeros stored as nothing; a stream its own table does not
// describe fails cleanly.
TEST(RockRidgeZisofs, DecodesOrRefuses) {
    Bytes data(100000, 0);
    for (size_t i = 0; i < 40000; ++i) data[i] = static_cast<uint8_t>(i % 251);
    for (size_t i = 70000; i < data.size(); ++i) data[i] = 'x';
    const Bytes good = Zisofs(data, 15);
    auto decode = [](const Bytes &stored, uint64_t real, Bytes *out) {
        return rockridge::DecodeZisofs(
            stored.size(), real,
            [&](uint64_t offset, uint8_t *to, size_t n) {
                if (offset > stored.size() || n > stored.size() - offset) return false;
                std::copy_n(stored.begin() + static_cast<ptrdiff_t>(offset), n, to);
                return true;
            },
            [&](const uint8_t *bytes, size_t n) {
                out->insert(out->end(), bytes, bytes + n);
                return Status::Ok();
            });
    };
    Bytes out;
    ASSERT_TRUE(decode(good, data.size(), &out).IsOk());
    EXPECT_EQ(out, data);

    auto damaged = [&](size_t at, std::initializer_list<uint8_t> bytes) {
        Bytes copy = good;
        std::copy(bytes.begin(), bytes.end(), copy.begin() + static_cast<ptrdiff_t>(at));
        return copy;
    };
    const struct {
        const char *what;
        Bytes stored;
        uint64_t real;
    } refused[] = {
        {"another real size", good, data.size() + 1},
        {"no magic", damaged(0, {0}), data.size()},
        {"a block size zisofs does not have", damaged(13, {20}), data.size()},
        {"a table past the data", Bytes(good.begin(), good.begin() + 24), data.size()},
        {"pointers going back", damaged(20, {0x10, 0, 0, 0}), data.size()},
        {"a block past the data", damaged(24, {0xFF, 0xFF, 0xFF, 0x0F}), data.size()},
        {"a block that does not inflate", damaged(good.size() - 10, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), data.size()},
        {"too short for its header", Bytes(good.begin(), good.begin() + 10), data.size()},
    };
    for (const auto &r : refused) {
        Bytes partial;
        EXPECT_EQ(decode(r.stored, r.real, &partial).GetCode(), Code::kReadFailed) << r.what;
    }
}

}  // namespace
}  // namespace qorvex::test
