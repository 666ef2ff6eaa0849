// Rows of the file list, their cell text, sorting and selection, independent of any widget.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace lumast {

// List kinds of a row.
enum ListKind : int32_t {
    LIST_ISO_FILES = 0,
    LIST_JOLIET_FILES = 1,
    LIST_UDF_FILES = 2,
    LIST_ISO_SYSTEM = 3,
    LIST_JOLIET_SYSTEM = 4,
    LIST_UDF_SYSTEM = 5,
    LIST_AUDIO = 6,
    LIST_ROCKRIDGE_FILES = 7,  // Rock Ridge names, read when the extended formats are on
};

// True for rows that name a file of a file catalogue (not a system part, not the audio row).
inline bool IsFileListKind(int32_t list_kind) {
    return (list_kind >= LIST_ISO_FILES && list_kind <= LIST_UDF_FILES) || list_kind == LIST_ROCKRIDGE_FILES;
}

struct FileRow {
    int32_t id = 0;
    int32_t list_kind = 0;
    int32_t extent = 0;
    int32_t sectors = 0;
    int32_t offset = 0;
    uint64_t size = 0;
    uint16_t extent_count = 0;
    uint16_t extent_index = 0;
    int64_t date = 0;  // seconds since 1970 UTC, any year; 0: none
    std::string name;
    bool damaged = false;  // a cut image lacks some of its data: marked in the row, the columns stay
};

// Text of the "system" column for a list kind; empty for unknown kinds.
const char *SystemName(int32_t list_kind);

struct ColumnSpec {
    int header_string;  // string-table id
    enum Align { Left, Centre, Right } align;
    const char *key;  // key under section "Column"
    int default_width;
};
inline constexpr int kFileColumns = 7;
extern const ColumnSpec kFileColumnSpecs[kFileColumns];

class FileListModel {
public:
    // Appends a row and returns id + 1.
    int32_t AddRow(int32_t id, const std::string &name, int32_t list_kind, int32_t extent, int32_t sectors,
                   int32_t offset, uint64_t size, uint16_t extent_count, uint16_t extent_index, int64_t date);
    // Drops every row and resets the sort directions.
    void Clear();
    // Clears selection and focus (after the rows were refilled).
    void Publish();

    size_t RowCount() const { return rows_.size(); }
    void MarkDamaged(size_t index) { rows_[index].damaged = true; }
    const FileRow &Row(size_t index) const { return rows_[index]; }
    const std::vector<FileRow> &Rows() const { return rows_; }

    // Text of a cell; empty for rows or columns out of range.
    std::string CellText(size_t row, int column) const;

    // Column-header click: sorts by `column`, flips its direction, keeps the selected rows selected (by id)
    // and drops the focus.
    void SortByColumn(int column);
    int32_t SortDirection(int column) const { return directions_[column]; }

    // Selection, mirrored from the widget.
    void SetSelected(size_t row, bool selected);
    bool IsSelected(size_t row) const { return row < selected_.size() && selected_[row]; }
    void SelectAll();
    void ClearSelection();
    std::vector<size_t> SelectedRows() const;
    int Focused() const { return focused_; }
    void SetFocused(int row) { focused_ = row; }

private:
    bool Greater(const FileRow &a, const FileRow &b, int column) const;

    std::vector<FileRow> rows_;
    std::vector<bool> selected_;
    int focused_ = -1;
    std::array<int32_t, kFileColumns> directions_{-1, -1, -1, -1, -1, -1, -1};
};

}  // namespace lumast
