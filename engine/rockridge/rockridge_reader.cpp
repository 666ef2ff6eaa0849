#include "rockridge/rockridge_reader.h"

#include <algorithm>
#include <array>
#include <string>
#include <unordered_set>
#include <vector>

#include "iso9660/iso_reader.h"
#include "iso9660/iso_structures.h"
#include "model/kinds.h"
#include "qorvex_ext.h"
#include "rockridge/susp.h"

namespace qorvex::rockridge {

namespace {

using iso9660::DirectoryRecord;
using iso9660::VolumeDescriptor;

constexpr int32_t kMaxDescriptors = 256;  // volume descriptors looked at before giving up on a terminator

// POSIX file types as RRIP records them in PX (the values of POSIX.1, on every platform).
constexpr uint32_t kTypeMask = 0170000, kTypeFolder = 0040000, kTypeLink = 0120000, kTypeFile = 0100000;

uint32_t Sectors(uint64_t bytes, int32_t block) {
    return block <= 0 ? 0 : static_cast<uint32_t>(std::min<uint64_t>((bytes + block - 1) / block, UINT32_MAX));
}

// "NAME.TXT;1" -> "NAME.TXT": the identifier a record without NM is listed under.
std::string IsoName(ByteView id) {
    std::string name(id.Text(0, id.Size()));
    name = name.substr(0, name.find('\0'));
    if (const size_t semicolon = name.rfind(';');
        semicolon != std::string::npos && name.find_first_not_of("0123456789", semicolon + 1) == std::string::npos)
        name.erase(semicolon);
    return name;
}

// A POSIX name as one component of a "\" path: "\" (legal in a POSIX name) becomes U+FF3C, "/" and NUL "_".
std::string Component(const std::string &name) {
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        if (c == '\\')
            out += "\xEF\xBC\xBC";
        else
            out += (c == '/' || c == '\0') ? '_' : c;
    }
    return out;
}

// A directory record with what its system use entries say.
struct Found {
    DirectoryRecord record;
    RecordInfo info;
};

class RockRidgeScan {
public:
    RockRidgeScan(SectorReader &reader, const Limits &limits, FsListing &listing)
        : reader_(reader), budget_(*limits.budget), listing_(listing) {}

    Status Run();

private:
    Status ReadRun(uint32_t sector, uint64_t n, std::vector<uint8_t> &out);
    Status FindPrimary(VolumeDescriptor &primary);
    const std::vector<uint8_t> *Block(uint32_t block);
    void Collect(ByteView field, bool root_self, RecordInfo &info);
    RecordInfo InfoOf(const DirectoryRecord &r) {
        RecordInfo info;
        Collect(r.system_use.From(skip_), false, info);
        return info;
    }
    // The "." record of the folder at `extent`, read from its first block.
    bool SelfRecord(uint32_t extent, std::vector<uint8_t> &data, Found &self);
    Status Walk(uint32_t extent, uint32_t length, const std::string &path, int32_t depth, size_t &listed,
                size_t &hidden);
    Status Keep(const Found &f, std::string_view path, bool folder, uint32_t extent, uint32_t length);

    SectorReader &reader_;
    MemoryBudget &budget_;
    FsListing &listing_;
    int32_t block_ = 0;
    uint8_t skip_ = 0;
    bool rrip_ = false;
    int64_t directory_budget_ = iso9660::kMaxDirectoryBytes;
    std::unordered_set<uint32_t> walked_;
    std::vector<uint8_t> sector_;
    uint32_t cached_block_ = 0;
    std::vector<uint8_t> cached_;
};

Status RockRidgeScan::ReadRun(uint32_t sector, uint64_t n, std::vector<uint8_t> &out) {
    return iso9660::ReadDirectoryRun(reader_, sector, n, block_, directory_budget_, out, sector_);
}

Status RockRidgeScan::FindPrimary(VolumeDescriptor &primary) {
    const int64_t first = int64_t(reader_.Record().start) + 16;
    if (first > INT32_MAX || !reader_.SeekSector(static_cast<int32_t>(first))) return Code::kSeekFailed;
    std::vector<uint8_t> read(static_cast<size_t>(std::max(reader_.MaxUserSize(), 1)));
    std::array<uint8_t, iso9660::kDescriptorSize> d{};
    for (int32_t i = 0; i < kMaxDescriptors; ++i) {
        if (reader_.ReadSectors(read.data(), 1) == 0) return reader_.ReadFailure();
        d.fill(0);
        std::copy_n(read.begin(), std::min<size_t>(static_cast<size_t>(std::max(reader_.UserSize(), 0)), d.size()),
                    d.begin());
        const ByteView bytes(d.data(), d.size());
        if (!iso9660::IsVolumeDescriptor(bytes)) break;
        const VolumeDescriptor v = VolumeDescriptor::Parse(bytes, static_cast<uint32_t>(first + i));
        if (v.type == iso9660::kPrimary) {
            primary = v;
            return Status::Ok();
        }
        if (v.type == iso9660::kTerminator) break;
    }
    return Code::kUnknownFormat;
}

const std::vector<uint8_t> *RockRidgeScan::Block(uint32_t block) {
    if (!cached_.empty() && cached_block_ == block) return &cached_;
    cached_.clear();
    if (ReadRun(block, static_cast<uint64_t>(block_), cached_).Failed()) return nullptr;
    cached_block_ = block;
    return &cached_;
}

void RockRidgeScan::Collect(ByteView field, bool root_self, RecordInfo &info) {
    ParseSystemUse(field, root_self, info);
    // SUSP 5.1: each CE names one more area; a chain is followed a bounded number of times and never twice
    // through the same area (a loop).
    std::vector<ContinuationArea> seen;
    while (info.continuation && static_cast<int32_t>(seen.size()) < kMaxContinuations) {
        const ContinuationArea area = *info.continuation;
        info.continuation.reset();
        if (std::find(seen.begin(), seen.end(), area) != seen.end()) break;
        seen.push_back(area);
        // The area lies within one logical block; a length past it is damage, not a longer area.
        if (area.length == 0 || area.offset >= static_cast<uint32_t>(block_) ||
            area.length > static_cast<uint32_t>(block_) - area.offset)
            break;
        const std::vector<uint8_t> *data = Block(area.block);
        if (!data) break;
        ParseSystemUse(ByteView(data->data(), data->size()).Sub(area.offset, area.length), false, info);
    }
    info.continuation.reset();
}

bool RockRidgeScan::SelfRecord(uint32_t extent, std::vector<uint8_t> &data, Found &self) {
    if (ReadRun(extent, static_cast<uint64_t>(block_), data).Failed()) return false;
    const ByteView bytes(data.data(), data.size());
    self.record = DirectoryRecord::Parse(bytes);
    if (bytes.Size() < iso9660::kDirectoryRecordFixed + 1 || self.record.length < iso9660::kDirectoryRecordFixed + 1 ||
        !self.record.IsDirectory() || self.record.identifier_length != 1 || self.record.identifier.U8(0) != 0)
        return false;
    return true;
}

Status RockRidgeScan::Keep(const Found &f, std::string_view path, bool folder, uint32_t extent, uint32_t length) {
    const RecordInfo &info = f.info;
    const DirectoryRecord &r = f.record;
    PosixDetails posix;
    if (info.has_px) {
        posix.flags |= QORVEX_EX_POSIX;
        posix.mode = info.mode;
        posix.links = info.links;
        posix.uid = info.uid;
        posix.gid = info.gid;
    }
    if (info.has_serial) {
        posix.flags |= QORVEX_EX_HARDLINK_SERIAL;
        posix.serial = info.serial;
    }
    const uint32_t type = info.mode & kTypeMask;
    // A link whose target was too long stays a link, without a target (never one cut to name another file).
    const bool link =
        !folder && ((info.has_link && (!info.has_px || type == kTypeLink)) || (info.has_px && type == kTypeLink));
    const bool special =
        !folder && !link &&
        (info.has_pn || (info.has_px && type != 0 && type != kTypeFile && type != kTypeFolder && type != kTypeLink));
    if (link && info.has_link && !info.link_cut) {
        posix.flags |= QORVEX_EX_SYMLINK;
        posix.link_target = listing_.names.Add(info.link, budget_);
    }
    if (info.has_pn) {
        posix.flags |= QORVEX_EX_DEVICE;
        posix.device = info.device;
    }
    if (info.zisofs && !folder && !link && !special) posix.flags |= QORVEX_EX_ZISOFS;
    posix.modified = info.stamps[kTfModify];
    posix.accessed = info.stamps[kTfAccess];
    posix.changed = info.stamps[kTfAttributes];
    posix.created = info.stamps[kTfCreation];

    CatalogueEntry e;
    e.file_flags = r.flags;
    e.extent = extent;
    e.size = length;
    e.sectors = Sectors(length, block_);
    const bool hidden = (r.flags & iso9660::kFlagHidden) != 0;
    const int64_t recorded = (folder && r.date[0] >= 128) ? kNoDate : iso9660::RecordingInstant(r.date.data());
    e.date = posix.modified != kNoDate ? posix.modified : recorded;
    posix.modified = e.date;
    e.details = listing_.AddDetails(posix, budget_);
    if (e.details == 0) return Code::kTooLarge;
    if (folder) {
        e.kind = EntryKind::kRockRidgeFolder;
        e.attributes = kAttributeDirectory | (hidden ? kAttributeHidden : 0);
        e.prefix = NamePrefix::kRockRidgeFolder;
        e.name = listing_.names.Add(path, budget_);
        if (!listing_.AddPart(e, budget_)) return Code::kTooLarge;
    } else {
        e.kind = link      ? EntryKind::kRockRidgeSymlink
                 : special ? EntryKind::kRockRidgeSpecial
                           : EntryKind::kRockRidgeFile;
        if (link || special) e.size = e.sectors = 0;  // no data of their own
        if (posix.flags & QORVEX_EX_ZISOFS) e.size = info.real_size;
        e.attributes = hidden ? kAttributeHidden : 0;
        e.name = listing_.names.Add(path, budget_);
        if (!listing_.AddFile(e, budget_)) return Code::kTooLarge;
    }
    return budget_.Exhausted() ? Status(Code::kTooLarge) : Status::Ok();
}

Status RockRidgeScan::Walk(uint32_t extent, uint32_t length, const std::string &path, int32_t depth, size_t &listed,
                           size_t &hidden) {
    listed = hidden = 0;
    std::vector<uint8_t> data;
    QORVEX_TRY(ReadRun(extent, length, data));
    const ByteView bytes(data.data(), data.size());
    std::string previous_name;  // of a multi-extent file, whose later records may lack NM
    bool previous_continues = false;
    const size_t end = data.size() > iso9660::kDirectoryRecordFixed ? data.size() - iso9660::kDirectoryRecordFixed : 0;
    for (size_t i = 0; i < end;) {
        if (data[i] == 0) {  // a record length of 0 moves on by one byte (sector padding): a run of them at once
            i = bytes.SkipZeros(i, end);
            continue;
        }
        Found f{DirectoryRecord::Parse(bytes.From(i)), {}};
        const DirectoryRecord &r = f.record;
        if (r.identifier.Size() < r.identifier_length) break;
        const size_t step = std::max<size_t>(r.length, iso9660::kDirectoryRecordFixed + r.identifier_length);
        i += step + (step & 1);
        if (r.IsSelfOrParent()) continue;

        f.info = InfoOf(r);
        rrip_ = rrip_ || f.info.rrip;
        // RRIP 4.1.5.3: a relocated folder is shown where its CL entry stands, not here.
        if (f.info.relocated) {
            ++hidden;
            continue;
        }
        std::string name;
        if (f.info.has_name && !f.info.name_cut && !f.info.name_special && !f.info.name.empty())
            name = Component(f.info.name);
        else if (previous_continues && !f.info.has_name)
            name = previous_name;
        else
            name = Component(IsoName(r.identifier));
        previous_continues = (r.flags & iso9660::kFlagMultiExtent) != 0;
        previous_name = name;
        if (name.empty() || name == "." || name == "..") continue;

        const bool relocation = f.info.child.has_value();
        const bool folder = r.IsDirectory() || relocation;
        std::string child_path = path + name;
        if (folder) child_path += '\\';
        if (child_path.size() > iso9660::kMaxPathLength) return Code::kReadFailed;

        uint32_t child_extent = r.extent, child_length = r.data_length;
        bool enter = folder;
        if (relocation) {
            // RRIP 4.1.5.1: the folder is recorded elsewhere; its "." record tells its length and attributes.
            child_extent = *f.info.child;
            child_length = 0;
            std::vector<uint8_t> first;
            Found self;
            enter = SelfRecord(child_extent, first, self);
            if (enter) {
                child_length = self.record.data_length;
                self.info = InfoOf(self.record);
                if (self.info.has_px) {
                    f.info.has_px = true;
                    f.info.mode = self.info.mode, f.info.links = self.info.links;
                    f.info.uid = self.info.uid, f.info.gid = self.info.gid;
                    f.info.has_serial = self.info.has_serial, f.info.serial = self.info.serial;
                }
                for (int s = 0; s < 7; ++s)
                    if (self.info.stamps[s] != kNoDate) f.info.stamps[s] = self.info.stamps[s];
                f.record.date = self.record.date;
            }
        }
        QORVEX_TRY(Keep(f, child_path, folder, child_extent, child_length));
        ++listed;
        if (!enter) continue;
        // A folder too deep, or already walked (a CL loop or a shared extent), is listed but not entered.
        if (depth + 1 > kMaxFolderDepth) {
            ++listing_.skipped_folders;
            continue;
        }
        if (!walked_.insert(child_extent).second) continue;
        const size_t parts_before = listing_.parts.size(), details_before = listing_.details.size();
        size_t child_listed = 0, child_hidden = 0;
        QORVEX_TRY(Walk(child_extent, child_length, child_path, depth + 1, child_listed, child_hidden));
        // The folder the relocated ones were moved into (rr_moved) is hidden once they are all shown in place.
        if (depth == 0 && child_listed == 0 && child_hidden > 0 && listing_.parts.size() == parts_before &&
            listing_.details.size() == details_before) {
            listing_.parts.pop_back();
            listing_.details.pop_back();
            --listed;
        }
    }
    return Status::Ok();
}

Status RockRidgeScan::Run() {
    VolumeDescriptor primary;
    QORVEX_TRY(FindPrimary(primary));
    block_ = primary.UsableBlockSize(reader_.MaxUserSize());
    if (block_ == 0) return Code::kUnknownFormat;
    reader_.SetUserSize(block_);

    // SUSP 5.3: the root's "." record begins with SP when the volume uses the protocol at all.
    const DirectoryRecord root = primary.Root();
    std::vector<uint8_t> first;
    Found self;
    if (!SelfRecord(root.extent, first, self)) return Code::kUnknownFormat;
    Collect(self.record.system_use, true, self.info);
    if (!self.info.sp) return Code::kUnknownFormat;
    // The rest of this field follows SP directly; LEN_SKP applies to every other record's field.
    skip_ = self.info.skip;
    rrip_ = self.info.rrip || self.info.rrip_er;

    const auto &id = primary.volume_id;
    listing_.label = std::string(id.begin(), std::find(id.begin(), id.end(), 0));
    while (!listing_.label.empty() && listing_.label.back() == ' ') listing_.label.pop_back();

    CatalogueEntry pvd;
    pvd.kind = EntryKind::kRockRidgePrimaryDescriptor;
    pvd.name = listing_.names.Add("PVD", budget_);
    pvd.size = static_cast<uint64_t>(block_);
    pvd.extent = primary.sector;
    pvd.sectors = 1;
    pvd.date = iso9660::VolumeInstant(primary.created.data());
    if (!listing_.AddPart(pvd, budget_)) return Code::kTooLarge;
    Found root_found{root, self.info};
    root_found.record.flags = self.record.flags;
    QORVEX_TRY(Keep(root_found, "\\", true, root.extent, root.data_length));
    walked_.insert(root.extent);
    size_t listed = 0, hidden = 0;
    QORVEX_TRY(Walk(root.extent, root.data_length, "\\", 0, listed, hidden));
    if (!rrip_) return Code::kUnknownFormat;  // SUSP without Rock Ridge: nothing this catalogue adds
    listing_.found = true;
    return Status::Ok();
}

}  // namespace

Status ReadRockRidge(SectorReader &reader, const Limits &limits, FsListing *rockridge) {
    if (!rockridge || !limits.budget) return Code::kUnknownFormat;
    const int32_t user_size = reader.UserSize();
    FsListing listing;
    RockRidgeScan scan(reader, limits, listing);
    const Status status = scan.Run();
    reader.SetUserSize(user_size);
    if (status.IsOk()) *rockridge = std::move(listing);
    return status;
}

}  // namespace qorvex::rockridge
