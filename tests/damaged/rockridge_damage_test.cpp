// Rock Ridge structures that chain or relocate without end, or that name far more than they hold: continuation
// loops, relocation loops, name and link floods and continuation areas past any block. Each image opens with a
// bounded listing, in bounded time and memory, and the rest of the volume stays readable.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "qorvex_ext.h"
#include "support/harness/damage_harness.h"
#include "support/susp_entries.h"
#include "support/temp_dir.h"

namespace damaged {
namespace {

using namespace qorvex::test;
using namespace qorvex::test::susp;

constexpr uint32_t kFree = 8;  // zero sectors at the end of every image, for continuation areas

IsoImage Build(const std::vector<IsoNode> &children) {
    IsoOptions o;
    o.root_system_use = Join({Sp(), Px(040755, 2)});
    o.trailing_sectors = kFree;
    return BuildIso(children, o);
}

IsoNode RrFile(const std::string &iso, const std::string &name, const Bytes &extra = {}) {
    IsoNode n = File(iso, "data of " + name);
    n.system_use = Join({Px(0100644), Nm(name), extra});
    return n;
}

IsoNode RrDir(const std::string &iso, const std::string &name, std::vector<IsoNode> children = {},
              const Bytes &extra = {}) {
    IsoNode n = Dir(iso, std::move(children));
    n.system_use = Join({Px(040755, 2), Nm(name), extra});
    n.self_system_use = Px(040755, 2);
    return n;
}

uint32_t FreeSector(const IsoImage &image, uint32_t k) {
    return image.Sectors() - kFree + k;
}

void Put(IsoImage &image, uint32_t sector, size_t offset, const Bytes &bytes) {
    std::memcpy(image.bytes.data() + size_t(sector) * 2048 + offset, bytes.data(), bytes.size());
}

// Points the CE (or CL) entry of a record somewhere else.
void Retarget(IsoImage &image, size_t record, const char *signature, uint32_t block, uint32_t offset = 0,
              uint32_t length = 0) {
    const size_t at = EntryAt(image, record, signature);
    image.Put32Both(at + 4, block);
    if (signature[0] == 'C' && signature[1] == 'E') {
        image.Put32Both(at + 12, offset);
        image.Put32Both(at + 20, length);
    }
}

// An image with one plain file, whose system use area and the root's are as given.
IsoImage Plain(const Bytes &root, const Bytes &file) {
    IsoOptions o;
    o.root_system_use = root;
    IsoNode f = File("F.TXT;1", "f");
    f.system_use = file;
    return BuildIso({f}, o);
}

// Points the CE of `record` at the first free sector and fills every free sector with copies of `entry`,
// each area ending in a CE to the next free sector and the last one's back to the first.
void FloodInALoop(IsoImage &image, size_t record, const Bytes &entry) {
    Retarget(image, record, "CE", FreeSector(image, 0), 0, 2048);
    for (uint32_t k = 0; k < kFree; ++k) {
        Bytes area;
        while (area.size() + entry.size() + 28 <= 2048) area.insert(area.end(), entry.begin(), entry.end());
        const Bytes ce = Ce(FreeSector(image, (k + 1) % kFree), 0, 2048);
        area.insert(area.end(), ce.begin(), ce.end());
        Put(image, FreeSector(image, k), 0, area);
    }
}

// Opens with Rock Ridge and lists its files ("name:kind->link target" joined) and its part count, in a
// watched child.
std::string ListWatched(const std::string &path) {
    return RunWatched([path] {
        return WithOpen(path, OPEN_ROCK_RIDGE, [](QorvexHandle h) {
            std::string out;
            ForEach(h, KIND_ROCKRIDGE, false, [&](const EntryInfo &e) {
                QorvexExEntry ex{};
                ex.struct_size = sizeof ex;
                QorvexExGetCurrentFile(h, &ex);
                out += std::string(e.name) + ":" + std::to_string(e.kind) + "->" + ex.link_target + " ";
            });
            return out + "parts " + std::to_string(QorvexGetModuleStart(h, 0, KIND_ROCKRIDGE)) + " iso " +
                   std::to_string(QorvexGetFileCount(h, 0, KIND_ISO9660));
        });
    });
}

TEST(RockRidgeDamage, ChainsLoopsFloodsAndBrokenSuspStayBounded) {
    struct Case {
        const char *name;
        std::function<IsoImage()> make;
        std::string expected;
    };
    const Case cases[] = {
        // (One area that names itself is the shortest such chain.)
        {"CE chain that comes back to its start",
         [] {
             IsoImage image = Build({RrFile("F.TXT;1", "file", Ce(0, 0, 28))});
             const uint32_t a = FreeSector(image, 0), b = FreeSector(image, 1);
             Retarget(image, image.iso.at("\\F.TXT;1").record, "CE", a, 100, 28);
             Put(image, a, 100, Ce(b, 200, 28));
             Put(image, b, 200, Ce(a, 100, 28));
             return image;
         },
         "\\file:21-> parts 2 iso 1"},
        {"CE lengths and offsets past any block",
         [] {
             IsoImage image = Build({RrFile("F.TXT;1", "file", Ce(0, 0, 0)), RrFile("G.TXT;1", "g", Ce(0, 0, 0)),
                                     RrFile("H.TXT;1", "h", Ce(0, 0, 0))});
             Retarget(image, image.iso.at("\\F.TXT;1").record, "CE", FreeSector(image, 0), 0, 0xFFFFFFFFu);
             Retarget(image, image.iso.at("\\G.TXT;1").record, "CE", FreeSector(image, 0), 0xFFFFFFF0u, 64);
             Retarget(image, image.iso.at("\\H.TXT;1").record, "CE", 0xFFFFFFF0u, 0, 64);
             return image;
         },
         "\\file:21-> \\g:21-> \\h:21-> parts 2 iso 3"},
        {"CL that relocates a folder to the root and one to its own parent",
         [] {
             IsoImage image = Build({RrDir("D", "up", {}, Cl(0)),
                                     RrDir("E", "e", {RrDir("F", "back", {}, Cl(0)), RrFile("X.TXT;1", "x")})});
             Retarget(image, image.iso.at("\\D\\").record, "CL", image.iso.at("\\").extent);
             Retarget(image, image.iso.at("\\E\\F\\").record, "CL", image.iso.at("\\E\\").extent);
             return image;
         },
         // Each folder is listed where it stands and not entered again.
         "\\e\\x:21-> parts 5 iso 1"},
        {"NM continued through a looping chain of full areas",
         [] {
             IsoImage image = Build({RrFile("F.TXT;1", "f", Ce(0, 0, 0))});
             FloodInALoop(image, image.iso.at("\\F.TXT;1").record, Nm(std::string(250, 'n'), 0x01));
             return image;
         },
         // The name would exceed any POSIX name: the record is listed under its ISO 9660 name.
         "\\F.TXT:21-> parts 2 iso 1"},
        {"SL components continued without end",
         [] {
             IsoImage image = Build({RrFile("L.TXT;1", "link", Ce(0, 0, 0))});
             const size_t px = EntryAt(image, image.iso.at("\\L.TXT;1").record, "PX");
             image.Put32Both(px + 4, 0120777);
             FloodInALoop(image, image.iso.at("\\L.TXT;1").record,
                          Sl({{0x00, std::string(120, 's')}, {0x00, std::string(120, 't')}}, 0x01));
             return image;
         },
         // Still a link, without a target: a cut one would name another file.
         "\\link:23-> parts 2 iso 1"},
        {"Entry lengths that run past the area or stand still",
         [] {
             IsoNode f = RrFile("F.TXT;1", "file");
             f.system_use.insert(f.system_use.end(), {'N', 'M', 0, 1, 'P', 'X', 255, 1});
             return Build({f});
         },
         "\\file:21-> parts 2 iso 1"},
        // SUSP without any Rock Ridge entry, or Rock Ridge entries behind SP check bytes that are wrong: no such
        // catalogue, and the ISO 9660 listing is whole either way.
        {"SUSP without Rock Ridge entries", [] { return Plain(Sp(), {}); }, "parts 0 iso 1"},
        {"Rock Ridge entries behind wrong SP check bytes",
         [] {
             return Plain(Join({susp::Entry("SP", Bytes{0xBE, 0xEE, 0}), Px(040755)}), Nm("named"));
         },
         "parts 0 iso 1"},
        {"a name without other Rock Ridge entries", [] { return Plain(Sp(), Nm("named")); },
         "\\named:21-> parts 2 iso 1"},
    };
    TempDir dir;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / "rr.iso";
        WriteFile(path, c.make().bytes);
        EXPECT_EQ(ListWatched(path), c.expected);
    }
}

}  // namespace
}  // namespace damaged
