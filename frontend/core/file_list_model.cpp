#include "file_list_model.h"

#include <cstring>

#include "text_format.h"

namespace lumast {
namespace {

constexpr const char *kSystemNames[] = {"iso9660 file",  "joliet file", "udf file", "iso9660 system",
                                        "joliet system", "udf system",  "audio",    "rockridge file"};

// Byte-wise comparison as unsigned bytes; 1 when a > b.
bool TextGreater(const std::string &a, const std::string &b) {
    const size_t n = std::min(a.size(), b.size());
    const int c = std::memcmp(a.data(), b.data(), n);
    if (c != 0) return c > 0;
    return a.size() > b.size();
}

}  // namespace

const ColumnSpec kFileColumnSpecs[kFileColumns] = {
    {3300, ColumnSpec::Left, "name", 200},    {3301, ColumnSpec::Centre, "system", 100},
    {3302, ColumnSpec::Right, "extent", 70},  {3303, ColumnSpec::Right, "next", 70},
    {3304, ColumnSpec::Right, "sectors", 70}, {3305, ColumnSpec::Right, "bytes", 80},
    {3306, ColumnSpec::Right, "date", 140},
};

const char *SystemName(int32_t list_kind) {
    return list_kind >= 0 && list_kind <= LIST_ROCKRIDGE_FILES ? kSystemNames[list_kind] : "";
}

int32_t FileListModel::AddRow(int32_t id, const std::string &name, int32_t list_kind, int32_t extent, int32_t sectors,
                              int32_t offset, uint64_t size, uint16_t extent_count, uint16_t extent_index,
                              int64_t date) {
    rows_.push_back({id, list_kind, extent, sectors, offset, size, extent_count, extent_index, date, name});
    selected_.push_back(false);
    return id + 1;
}

void FileListModel::Clear() {
    rows_.clear();
    selected_.clear();
    focused_ = -1;
    directions_.fill(-1);
}

void FileListModel::Publish() {
    selected_.assign(rows_.size(), false);
    focused_ = -1;
}

std::string FileListModel::CellText(size_t row, int column) const {
    if (row >= rows_.size()) return {};
    const FileRow &r = rows_[row];
    switch (column) {
        case 0: return r.name;
        case 1: return SystemName(r.list_kind);
        case 2: {
            std::string text = GroupedNumber(r.extent);
            if (r.offset > 0) text += " (+" + GroupedNumber(r.offset) + " byte)";
            return text;
        }
        case 3:
            return GroupedNumber(
                static_cast<int32_t>(static_cast<uint32_t>(r.extent) + static_cast<uint32_t>(r.sectors)));
        case 4: return GroupedNumber(r.sectors);
        case 5: return GroupedNumber(r.size);
        case 6: return ListDate(r.date);
        default: return {};
    }
}

bool FileListModel::Greater(const FileRow &a, const FileRow &b, int column) const {
    switch (column) {
        case 0: return TextGreater(a.name, b.name);
        case 1: return TextGreater(SystemName(a.list_kind), SystemName(b.list_kind));
        case 2:
            if (a.extent != b.extent) return a.extent > b.extent;
            if (a.offset != b.offset) return a.offset > b.offset;
            return TextGreater(SystemName(a.list_kind), SystemName(b.list_kind));
        case 3: return int64_t(a.extent) + a.sectors > int64_t(b.extent) + b.sectors;
        case 4: return a.sectors > b.sectors;
        case 5: {
            // High half signed, low half unsigned.
            const int32_t ha = static_cast<int32_t>(a.size >> 32), hb = static_cast<int32_t>(b.size >> 32);
            if (ha != hb) return ha > hb;
            return static_cast<uint32_t>(a.size) > static_cast<uint32_t>(b.size);
        }
        case 6: return a.date > b.date;
        default: return false;
    }
}

void FileListModel::SortByColumn(int column) {
    if (column < 0 || column >= kFileColumns) return;
    std::vector<int32_t> selected_ids;
    for (size_t i = 0; i < rows_.size(); ++i)
        if (selected_[i]) selected_ids.push_back(rows_[i].id);
    selected_.assign(rows_.size(), false);
    focused_ = -1;

    const size_t n = rows_.size();
    if (n > 1) {
        const bool invert = directions_[column] == 0;
        size_t gap = n;
        do {
            gap /= 2;
            size_t last = n - 1;
            bool swapped;
            do {
                swapped = false;
                for (size_t k = 0; k + gap <= last; ++k) {
                    const size_t j = k + gap;
                    bool greater = Greater(rows_[k], rows_[j], column);
                    if (invert) greater = !greater;
                    if (greater) {
                        std::swap(rows_[k], rows_[j]);
                        swapped = true;
                    }
                }
                if (last == 0) break;
                --last;
            } while (swapped);
        } while (gap > 1);
    }
    directions_[column] = !directions_[column];

    for (int32_t id : selected_ids) {
        for (size_t i = 0; i < rows_.size(); ++i) {
            if (rows_[i].id == id) {
                selected_[i] = true;
                break;
            }
        }
    }
}

void FileListModel::SetSelected(size_t row, bool selected) {
    if (row < selected_.size()) selected_[row] = selected;
}

void FileListModel::SelectAll() {
    selected_.assign(rows_.size(), true);
}
void FileListModel::ClearSelection() {
    selected_.assign(rows_.size(), false);
}

std::vector<size_t> FileListModel::SelectedRows() const {
    std::vector<size_t> out;
    for (size_t i = 0; i < selected_.size(); ++i)
        if (selected_[i]) out.push_back(i);
    return out;
}

}  // namespace lumast
