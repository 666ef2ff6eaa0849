#include "file_list_view.h"

#include <QApplication>
#include <QDrag>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QStyledItemDelegate>
#include <QUrl>

#include "resources.h"
#include "string_table.h"

namespace lumast::qt {
namespace {

Qt::Alignment AlignmentOf(ColumnSpec::Align align) {
    switch (align) {
        case ColumnSpec::Centre: return Qt::AlignHCenter | Qt::AlignVCenter;
        case ColumnSpec::Right: return Qt::AlignRight | Qt::AlignVCenter;
        default: return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

// Every row as tall as one with Japanese text, whichever row the view measures: with uniform row heights it
// takes the first one, and a row of plain ASCII would otherwise be shorter than one in the CJK fallback font.
class UniformRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        QStyleOptionViewItem sample = option;
        initStyleOption(&sample, index);
        sample.text = QString::fromUtf8("漢字かなAg");
        sample.features |= QStyleOptionViewItem::HasDisplay;
        const QStyle *style = option.widget ? option.widget->style() : QApplication::style();
        size.setHeight(std::max(
            size.height(), style->sizeFromContents(QStyle::CT_ItemViewItem, &sample, QSize(), option.widget).height()));
        return size;
    }
};

}  // namespace

int FileTableModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.RowCount());
}

int FileTableModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : kFileColumns;
}

QVariant FileTableModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid()) return {};
    if (role == Qt::DisplayRole)
        return QString::fromStdString(rows_.CellText(static_cast<size_t>(index.row()), index.column()));
    if (role == Qt::TextAlignmentRole && index.column() < kFileColumns)
        return QVariant::fromValue(AlignmentOf(kFileColumnSpecs[index.column()].align));
    // A file a cut image lacks data of: a warning mark before its name and a tip that says why.
    if (index.column() == 0 && rows_.Row(static_cast<size_t>(index.row())).damaged) {
        if (role == Qt::DecorationRole) return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
        if (role == Qt::ToolTipRole) return QString::fromUtf8(LoadString(IDS_DAMAGED_ROW));
    }
    return {};
}

QVariant FileTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kFileColumns) return {};
    if (role == Qt::DisplayRole) return QString::fromUtf8(LoadString(kFileColumnSpecs[section].header_string));
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(AlignmentOf(kFileColumnSpecs[section].align));
    return {};
}

Qt::ItemFlags FileTableModel::flags(const QModelIndex &index) const {
    // Rows can be dragged out to a file manager.
    return QAbstractTableModel::flags(index) | (index.isValid() ? Qt::ItemIsDragEnabled : Qt::NoItemFlags);
}

void FileTableModel::Reset() {
    beginResetModel();
    endResetModel();
}

FileListView::FileListView(CLumastView &view, IniProfile &ini, QWidget *parent)
    : QTreeView(parent), view_(view), ini_(ini) {
    setObjectName("fileList");
    model_ = new FileTableModel(view_.Model(), this);
    setModel(model_);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setItemDelegate(new UniformRowDelegate(this));
    setAllColumnsShowFocus(true);  // full-row selection
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setDefaultDropAction(Qt::CopyAction);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    header()->setSectionsClickable(true);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    for (int c = 0; c < kFileColumns; ++c) {
        const ColumnSpec &column = kFileColumnSpecs[c];
        setColumnWidth(c, std::max(0, ini_.GetInt("Column", column.key, column.default_width)));
    }
    connect(header(), &QHeaderView::sectionClicked, this, &FileListView::SortColumn);
    connect(this, &QTreeView::doubleClicked, this, [this](const QModelIndex &index) {
        if (index.isValid()) view_.OnDoubleClick(index.row());
    });
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, &FileListView::ShowContextMenu);
}

void FileListView::Published() {
    syncing_ = true;
    model_->Reset();
    selectionModel()->clear();
    syncing_ = false;
    ApplyFilter();
    emit stateChanged();
}

QString FolderOfRow(const std::string &name) {
    const QString path = QString::fromStdString(name);
    const qsizetype slash = path.lastIndexOf('\\');
    return slash <= 0 ? QString() : path.left(slash);
}

bool FileListView::RowShown(size_t row) const {
    const std::string &name = view_.Model().Row(row).name;
    if (folder_ && FolderOfRow(name) != *folder_) return false;
    const QString path = QString::fromStdString(name);
    return find_.isEmpty() || path.mid(path.lastIndexOf('\\') + 1).contains(find_, Qt::CaseInsensitive);
}

void FileListView::SetFilter(std::optional<QString> folder, const QString &find) {
    folder_ = std::move(folder);
    find_ = find;
    ApplyFilter();
    SyncSelectionFromCore();
}

// The hidden state lives in the widget and goes with every model reset (a refill, a sort).
void FileListView::ApplyFilter() {
    for (size_t i = 0; i < view_.Model().RowCount(); ++i)
        setRowHidden(static_cast<int>(i), QModelIndex(), !RowShown(i));
}

void FileListView::SortColumn(int column) {
    view_.Model().SortByColumn(column);
    syncing_ = true;
    model_->Reset();
    syncing_ = false;
    ApplyFilter();
    SyncSelectionFromCore();
    viewport()->update();
}

void FileListView::SyncSelectionFromCore() {
    FileListModel &rows = view_.Model();
    // What cannot be seen is not operated on.
    for (size_t i = 0; i < rows.RowCount(); ++i)
        if (rows.IsSelected(i) && !RowShown(i)) rows.SetSelected(i, false);
    QItemSelection selection;
    int first = -1;
    for (size_t i = 0; i <= rows.RowCount(); ++i) {
        const bool selected = i < rows.RowCount() && rows.IsSelected(i);
        if (selected && first < 0) first = static_cast<int>(i);
        if (!selected && first >= 0) {
            selection.select(model_->index(first, 0), model_->index(static_cast<int>(i) - 1, kFileColumns - 1));
            first = -1;
        }
    }
    syncing_ = true;
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    syncing_ = false;
    emit stateChanged();
}

void FileListView::selectionChanged(const QItemSelection &selected, const QItemSelection &deselected) {
    QTreeView::selectionChanged(selected, deselected);
    if (syncing_) return;
    FileListModel &rows = view_.Model();
    for (const QItemSelectionRange &r : deselected)
        for (int i = r.top(); i <= r.bottom(); ++i) rows.SetSelected(static_cast<size_t>(i), false);
    for (const QItemSelectionRange &r : selected)
        for (int i = r.top(); i <= r.bottom(); ++i) rows.SetSelected(static_cast<size_t>(i), true);
    emit stateChanged();
}

void FileListView::currentChanged(const QModelIndex &current, const QModelIndex &previous) {
    QTreeView::currentChanged(current, previous);
    if (syncing_) return;
    view_.Model().SetFocused(current.isValid() ? current.row() : -1);
    emit stateChanged();
}

void FileListView::keyPressEvent(QKeyEvent *event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && event->modifiers() == Qt::NoModifier) {
        view_.OnEnterKey();
        return;
    }
    QTreeView::keyPressEvent(event);
}

QMenu *FileListView::BuildContextMenu(int row) {
    const ContextMenu choice = view_.OnRightClick(row);
    if (choice.menu == 0) return nullptr;
    auto *menu = new QMenu(this);
    for (const MenuItem &item : ContextMenuItems(choice.menu)) {
        if (item.id == 0) {
            menu->addSeparator();
            continue;
        }
        QAction *action = menu->addAction(QString::fromUtf8(item.text));
        action->setData(item.id);
    }
    // The file type's verbs go in at position index + 3, before "アプリケーションから開く".
    for (size_t n = 0; n < choice.verbs.size(); ++n) {
        const QList<QAction *> actions = menu->actions();
        const int position = static_cast<int>(n) + 3;
        QAction *before = position < actions.size() ? actions[position] : nullptr;
        auto *action = new QAction(QString::fromStdString(choice.verbs[n].text), menu);
        action->setData(ID_SHELL_VERB_FIRST + static_cast<int>(n));
        menu->insertAction(before, action);
    }
    return menu;
}

void FileListView::ShowContextMenu(const QPoint &pos) {
    const QModelIndex index = indexAt(pos);
    QMenu *menu = BuildContextMenu(index.isValid() ? index.row() : -1);
    if (!menu) return;
    QAction *chosen = menu->exec(viewport()->mapToGlobal(pos));
    const int id = chosen ? chosen->data().toInt() : 0;
    menu->deleteLater();
    if (id != 0) emit commandRequested(id);
}

QMimeData *FileListView::MakeDragData() {
    const std::vector<std::string> paths = view_.ExtractForDrag();
    if (paths.empty()) return nullptr;
    QList<QUrl> urls;
    for (const std::string &path : paths) urls << QUrl::fromLocalFile(QString::fromStdString(path));
    auto *data = new QMimeData;
    data->setUrls(urls);
    return data;
}

void FileListView::startDrag(Qt::DropActions) {
    QMimeData *data = MakeDragData();
    if (!data) return;
    auto *drag = new QDrag(this);
    drag->setMimeData(data);
    // Copies only: a move would take the files out of the temporary folder behind the program's back.
    drag->exec(Qt::CopyAction);
}

void FileListView::SaveColumnWidths() {
    for (int c = 0; c < kFileColumns; ++c) ini_.WriteInt("Column", kFileColumnSpecs[c].key, columnWidth(c));
}

}  // namespace lumast::qt
