#include "disc.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "file_system_choice.h"

namespace host {

const char *KindName(int32_t kind) {
    switch (kind) {
        case KIND_ISO9660: return "ISO 9660";
        case KIND_JOLIET: return "Joliet";
        case KIND_UDF: return "UDF";
        case KIND_ROCKRIDGE: return "Rock Ridge";
        default: return "?";
    }
}

const char *KindKeyword(int32_t kind) {
    switch (kind) {
        case KIND_ISO9660: return "iso9660";
        case KIND_JOLIET: return "joliet";
        case KIND_UDF: return "udf";
        case KIND_ROCKRIDGE: return "rockridge";
        default: return "";
    }
}

Entry ToEntry(const EntryInfo &info) {
    Entry e;
    e.kind = info.kind;
    e.size = (static_cast<uint64_t>(info.size_high) << 32) | info.size_low;
    e.start = info.start;
    e.sectors = info.sectors;
    e.offset = info.offset;
    e.extent_count = info.extent_count;
    e.extent_index = info.extent_index;
    e.attributes = info.attributes;
    e.time = info.time;
    e.name.assign(info.name, strnlen(info.name, sizeof info.name));
    e.path = e.name;
    e.has_date = info.time != 0;
    e.date = info.time;
    return e;
}

uint32_t DamageFlags(uint32_t open_options) {
    const uint32_t both = OPEN_CHECK_EDC | OPEN_SALVAGE;
    return (open_options & both) == both ? QORVEX_EX_DAMAGE_READ : 0;
}

void AddDetails(const EngineApi &api, QorvexHandle handle, bool parts, Entry *entry, uint32_t damage) {
    auto *current = parts ? api.ExGetCurrentModule : api.ExGetCurrentFile;
    if (!current) return;
    QorvexExEntry ex{};
    ex.struct_size = sizeof ex;
    if (current(handle, &ex) != 0) return;
    entry->ex_flags = ex.flags;
    entry->name_cut = (ex.flags & QORVEX_EX_NAME_CUT) != 0;
    entry->more_extents = (ex.flags & QORVEX_EX_MULTI_EXTENT) != 0;
    entry->type = ex.type;
    if (ex.path_offset <= entry->name.size()) entry->path = entry->name.substr(ex.path_offset);
    entry->has_date = (ex.flags & QORVEX_EX_HAS_DATE) != 0;
    entry->date = entry->has_date ? ex.modified : 0;
    entry->mode = ex.mode;
    entry->uid = ex.uid;
    entry->gid = ex.gid;
    entry->links = ex.links;
    entry->serial = ex.serial;
    entry->device = ex.device;
    entry->link_target.assign(ex.link_target, strnlen(ex.link_target, sizeof ex.link_target));
    entry->damaged = (ex.flags & QORVEX_EX_DAMAGED) != 0;
    const bool read = (damage & QORVEX_EX_DAMAGE_READ) && ex.type == QORVEX_EX_TYPE_FILE;
    if ((entry->damaged || read) && !parts && api.ExGetDamage) {
        // The walk stands on the entry: index -1 names it. Ranges past the few a listing shows are counted only.
        QorvexExRange ranges[16];
        const int32_t n = api.ExGetDamage(handle, 0, 0, -1, damage, ranges, 16);
        if (n > 0) entry->missing.assign(ranges, ranges + std::min(n, 16));
        entry->damaged = entry->damaged || n > 0;
    }
}

uint64_t MissingBytes(const std::vector<QorvexExRange> &ranges) {
    uint64_t n = 0;
    for (const QorvexExRange &r : ranges) n += r.length;
    return n;
}

std::string DescribeRanges(const std::vector<QorvexExRange> &ranges) {
    std::string text;
    for (const QorvexExRange &r : ranges) {
        if (!text.empty()) text += ", ";
        text += std::to_string(r.offset) + "-" + std::to_string(r.offset + r.length - 1);
    }
    return text;
}

bool Disc::Salvaged(int32_t track, QorvexExSalvage *salvage) const {
    *salvage = QorvexExSalvage{};
    salvage->struct_size = sizeof *salvage;
    return api_->ExGetSalvage && api_->ExGetSalvage(handle_, track, salvage) == 0 &&
           (salvage->flags & QORVEX_EX_SALVAGED) != 0;
}

Disc::~Disc() {
    if (owned_ && handle_) api_->Close(handle_);
}

int32_t Disc::Open(const std::string &path, uint32_t options) {
    if (owned_ && handle_) api_->Close(handle_);
    int32_t error = 0;
    options_ = options;
    handle_ = api_->Open(path.c_str(), options, &error);
    owned_ = handle_ != nullptr;
    return handle_ ? 0 : (error ? error : ENGINE_UNKNOWN_FORMAT);
}

int32_t Disc::TrackCount() const {
    return api_->GetTrackCount(handle_);
}

int32_t Disc::FileCount(int32_t track, int32_t kind) const {
    return api_->GetFileCount(handle_, track, kind);
}

int32_t Disc::PartCount(int32_t track, int32_t kind) const {
    return api_->GetModuleStart(handle_, track, kind);
}

int32_t Disc::SkippedFolders(int32_t track, int32_t kind) const {
    if (!api_->ExGetSkippedFolders) return 0;
    return std::max<int32_t>(api_->ExGetSkippedFolders(handle_, track, kind), 0);
}

std::vector<Entry> Disc::List(int32_t track, int32_t kind, bool parts) const {
    std::vector<Entry> entries;
    const int32_t count = parts ? api_->GetModuleStart(handle_, track, kind) : api_->GetFileStart(handle_, track, kind);
    entries.reserve(static_cast<size_t>(std::max(count, 0)));
    for (int32_t i = 0; i < count; ++i) {
        EntryInfo info{};
        const int32_t left = parts ? api_->GetNextModule(handle_, &info) : api_->GetNextFile(handle_, &info);
        entries.push_back(ToEntry(info));
        AddDetails(*api_, handle_, parts, &entries.back(), DamageFlags(options_));
        if (left == 0) break;
    }
    return entries;
}

void Disc::Visit(int32_t track, int32_t kind, bool parts, const std::function<void(const EntryInfo &)> &visit) const {
    // One record serves the whole walk: the engine fills every field and ends both names.
    EntryInfo info;
    const int32_t count = parts ? api_->GetModuleStart(handle_, track, kind) : api_->GetFileStart(handle_, track, kind);
    for (int32_t i = 0; i < count; ++i) {
        std::memset(&info, 0, offsetof(EntryInfo, name) + 1);
        info.wname[0] = u'\0';
        const int32_t left = parts ? api_->GetNextModule(handle_, &info) : api_->GetNextFile(handle_, &info);
        visit(info);
        if (left == 0) break;
    }
}

void Disc::Walk(int32_t track, int32_t kind, bool parts, const std::function<void(size_t)> &visit) const {
    const int32_t count = parts ? api_->GetModuleStart(handle_, track, kind) : api_->GetFileStart(handle_, track, kind);
    for (int32_t i = 0; i < count; ++i) {
        EntryInfo info{};
        const int32_t left = parts ? api_->GetNextModule(handle_, &info) : api_->GetNextFile(handle_, &info);
        visit(static_cast<size_t>(i));
        if (left == 0) break;
    }
}

bool Disc::Seek(int32_t track, int32_t kind, bool parts, int32_t index) const {
    const int32_t count = parts ? api_->GetModuleStart(handle_, track, kind) : api_->GetFileStart(handle_, track, kind);
    if (index < 0 || index >= count) return false;
    EntryInfo info{};
    for (int32_t i = 0; i <= index; ++i) {
        const int32_t left = parts ? api_->GetNextModule(handle_, &info) : api_->GetNextFile(handle_, &info);
        if (left == 0 && i < index) return false;
    }
    return true;
}

int32_t Disc::DefaultTrack() const {
    for (int32_t t = 0; t < TrackCount(); ++t)
        if (!KindsPresent(t).empty()) return t;
    return 0;
}

std::vector<int32_t> Disc::KindsPresent(int32_t track) const {
    std::vector<int32_t> kinds;
    for (int32_t kind : kKindOrder)
        if (FileCount(track, kind) > 0 || PartCount(track, kind) > 0) kinds.push_back(kind);
    return kinds;
}

int32_t Disc::ChooseKind(int32_t track, int32_t requested, bool prefer_udf) const {
    if (requested != KIND_AUTO) return requested;
    const int32_t iso = FileCount(track, KIND_ISO9660);
    const int32_t joliet = FileCount(track, KIND_JOLIET);
    const int32_t udf = FileCount(track, KIND_UDF);
    int32_t kind = 0;
    if (prefer_udf && udf > 0)
        kind = KIND_UDF;
    else if (options_ & OPEN_EXTENSIONS)
        kind = AutomaticKind(iso, joliet, udf, FileCount(track, KIND_ROCKRIDGE));
    else
        kind = PreferredKind(iso, joliet, udf, false);
    if (kind) return kind;
    for (int32_t k : kKindOrder)
        if (PartCount(track, k) > 0) return k;
    return KIND_ISO9660;
}

}  // namespace host
