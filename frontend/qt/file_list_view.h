// The file list: a virtual report view over the core's rows. It holds no text of its own; it mirrors its
// selection and focus into the core model and hands every command to the frame.
#pragma once

#include <QAbstractTableModel>
#include <QTreeView>
#include <optional>

#include "ini_profile.h"
#include "view.h"

class QMenu;
class QMimeData;

namespace lumast::qt {

class FileTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit FileTableModel(const FileListModel &rows, QObject *parent = nullptr)
        : QAbstractTableModel(parent), rows_(rows) {}
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    void Reset();

private:
    const FileListModel &rows_;
};

class FileListView : public QTreeView {
    Q_OBJECT
public:
    FileListView(CLumastView &view, IniProfile &ini, QWidget *parent = nullptr);

    // The core refilled the rows: new item count, nothing selected or focused.
    void Published();
    // Header click: the core sorts and keeps the selected rows; the widget shows its result.
    void SortColumn(int column);
    // Shows the core's selection (after select-all or sorting); rows the filter hides leave it.
    void SyncSelectionFromCore();
    // Beyond the described list: shows only the rows directly in `folder` ("\docs", "" for the root; no
    // folder: every row) whose file name contains `find`, without regard to case.
    void SetFilter(std::optional<QString> folder, const QString &find);
    bool RowShown(size_t row) const;
    // The context menu for `row` (-1: empty space); null when none is shown. The caller owns it.
    QMenu *BuildContextMenu(int row);
    void SaveColumnWidths();
    FileTableModel *TableModel() const { return model_; }
    // Dragging out: extracts the selected rows and names the copies as URLs; null when nothing was made.
    QMimeData *MakeDragData();

signals:
    void commandRequested(int id);
    void stateChanged();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void selectionChanged(const QItemSelection &selected, const QItemSelection &deselected) override;
    void startDrag(Qt::DropActions supported) override;

private:
    void ShowContextMenu(const QPoint &pos);
    void ApplyFilter();

    CLumastView &view_;
    IniProfile &ini_;
    FileTableModel *model_;
    bool syncing_ = false;
    std::optional<QString> folder_;
    QString find_;
};

// "\docs\notes\first.txt" -> "\docs\notes"; a name in the root or without a path -> "".
QString FolderOfRow(const std::string &name);

}  // namespace lumast::qt
