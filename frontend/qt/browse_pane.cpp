#include "browse_pane.h"

#include <QAction>
#include <QBoxLayout>
#include <QHash>
#include <QLineEdit>
#include <QMenu>
#include <QSplitter>
#include <QTreeWidget>

#include "file_list_view.h"
#include "string_table.h"

namespace lumast::qt {
namespace {

constexpr int kPathRole = Qt::UserRole;

QString Text(int id) {
    return QString::fromUtf8(LoadString(id));
}

}  // namespace

bool RowUnderFolder(const std::string &name, const QString &folder) {
    const QString in = FolderOfRow(name);
    return folder.isEmpty() || in == folder || in.startsWith(folder + '\\');
}

BrowsePane::BrowsePane(FileListView *list, QWidget *parent) : QWidget(parent), list_(list) {
    setObjectName("browsePane");
    find_ = new QLineEdit(this);
    find_->setObjectName("findBox");
    find_->setPlaceholderText(Text(IDS_FIND_PLACEHOLDER));
    find_->setClearButtonEnabled(true);
    auto *clear = new QAction(find_);
    clear->setShortcut(Qt::Key_Escape);
    clear->setShortcutContext(Qt::WidgetShortcut);
    find_->addAction(clear);
    connect(clear, &QAction::triggered, find_, &QLineEdit::clear);
    connect(find_, &QLineEdit::textChanged, this, &BrowsePane::Refilter);

    tree_ = new QTreeWidget(this);
    tree_->setObjectName("folderTree");
    tree_->setHeaderHidden(true);
    tree_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tree_, &QTreeWidget::currentItemChanged, this, &BrowsePane::Refilter);
    connect(tree_, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        QTreeWidgetItem *item = tree_->itemAt(pos);
        if (!item) return;
        QMenu menu(this);
        QAction *extract = menu.addAction(Text(IDS_EXTRACT_FOLDER));
        if (menu.exec(tree_->viewport()->mapToGlobal(pos)) == extract)
            emit extractFolderRequested(item->data(0, kPathRole).toString());
    });

    auto *split = new QSplitter(this);
    split->addWidget(tree_);
    split->addWidget(list_);
    split->setStretchFactor(1, 1);
    split->setChildrenCollapsible(false);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(find_);
    layout->addWidget(split, 1);
    tree_->hide();
    find_->hide();
}

void BrowsePane::SetTreeShown(bool shown) {
    tree_->setVisible(shown);
    Refilter();
}

void BrowsePane::SetFindShown(bool shown) {
    find_->setVisible(shown);
    Refilter();
}

bool BrowsePane::TreeShown() const {
    return !tree_->isHidden();
}

bool BrowsePane::FindShown() const {
    return !find_->isHidden();
}

void BrowsePane::Refill(const FileListModel &rows) {
    const QTreeWidgetItem *current = tree_->currentItem();
    const QString chosen = current ? current->data(0, kPathRole).toString() : QString();
    const bool had_choice = current != nullptr;
    const QSignalBlocker quiet(tree_);
    tree_->clear();
    auto *root = new QTreeWidgetItem(tree_, {Text(IDS_ROOT_FOLDER)});
    root->setData(0, kPathRole, QString());
    QHash<QString, QTreeWidgetItem *> items{{QString(), root}};
    for (const FileRow &row : rows.Rows()) {
        const QString folder = FolderOfRow(row.name);
        // Each missing folder on the way down, parent first.
        qsizetype at = 0;
        while (at < folder.size()) {
            const qsizetype next = folder.indexOf('\\', at + 1);
            const qsizetype end = next < 0 ? folder.size() : next;
            const QString path = folder.left(end);
            if (!items.contains(path)) {
                auto *item = new QTreeWidgetItem(items.value(folder.left(at)), {folder.mid(at + 1, end - at - 1)});
                item->setData(0, kPathRole, path);
                items.insert(path, item);
            }
            at = end;
        }
    }
    tree_->sortItems(0, Qt::AscendingOrder);
    root->setExpanded(true);
    if (had_choice && items.contains(chosen)) tree_->setCurrentItem(items.value(chosen));
    Refilter();
}

void BrowsePane::Refilter() {
    std::optional<QString> folder;
    if (TreeShown() && tree_->currentItem()) folder = tree_->currentItem()->data(0, kPathRole).toString();
    list_->SetFilter(folder, FindShown() ? find_->text() : QString());
}

}  // namespace lumast::qt
