// The main window's client area: the file list and, beyond the described window, a folder tree beside it and
// a find box above it. Both are hidden until switched on, so that the described window is unchanged.
#pragma once

#include <QWidget>

#include "file_list_model.h"

class QLineEdit;
class QTreeWidget;

namespace lumast::qt {

class FileListView;

class BrowsePane : public QWidget {
    Q_OBJECT
public:
    BrowsePane(FileListView *list, QWidget *parent = nullptr);

    void SetTreeShown(bool shown);
    void SetFindShown(bool shown);
    bool TreeShown() const;
    bool FindShown() const;
    // The list was refilled: the tree is made anew from the folders of its rows.
    void Refill(const FileListModel &rows);
    QTreeWidget *Tree() const { return tree_; }
    QLineEdit *FindBox() const { return find_; }

signals:
    // The tree's context menu: extract everything under `folder` ("" for the root).
    void extractFolderRequested(const QString &folder);

private:
    void Refilter();

    FileListView *list_;
    QTreeWidget *tree_;
    QLineEdit *find_;
};

// True when the row named `name` lies in `folder` or below it.
bool RowUnderFolder(const std::string &name, const QString &folder);

}  // namespace lumast::qt
