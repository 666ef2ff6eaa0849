// The track list bar: a dock widget with the tracks of the open image; picks the document's current track.
#pragma once

#include <QDockWidget>
#include <vector>

#include "document.h"

class QMenu;
class QTreeWidget;

namespace lumast::qt {

class TrackListBar : public QDockWidget {
    Q_OBJECT
public:
    TrackListBar(CLumastDoc &doc, IniProfile &ini, const std::string &face, QWidget *parent = nullptr);

    // Rows for `tracks`; `select` < 0 clears the selection. The selection made here is not forwarded.
    void Fill(const std::vector<TrackInfo> &tracks, int select);
    QTreeWidget *List() const { return list_; }
    // Menu 131 for the item at `row`; null for empty space.
    QMenu *BuildContextMenu(int row);
    void SaveColumnWidths();

signals:
    void commandRequested(int id);
    // The title bar was double-clicked: the frame floats the bar centred.
    void floatCentredRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void OnSelectionChanged();

    CLumastDoc &doc_;
    IniProfile &ini_;
    QTreeWidget *list_;
    bool filling_ = false;
    bool float_requested_ = false;
};

}  // namespace lumast::qt
