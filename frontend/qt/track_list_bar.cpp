#include "track_list_bar.h"

#include <QEvent>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QTreeWidget>

#include "dialogs.h"
#include "resources.h"
#include "string_table.h"
#include "track_list.h"
#include "view.h"

namespace lumast::qt {
namespace {

Qt::Alignment AlignmentOf(TrackColumnSpec::Align align) {
    switch (align) {
        case TrackColumnSpec::Centre: return Qt::AlignHCenter | Qt::AlignVCenter;
        case TrackColumnSpec::Right: return Qt::AlignRight | Qt::AlignVCenter;
        default: return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

}  // namespace

TrackListBar::TrackListBar(CLumastDoc &doc, IniProfile &ini, const std::string &face, QWidget *parent)
    : QDockWidget(QString::fromUtf8(BarCaption(IDD_TRACK_BAR)), parent), doc_(doc), ini_(ini) {
    setObjectName("bar112");
    setAllowedAreas(Qt::AllDockWidgetAreas);
    list_ = new QTreeWidget(this);
    list_->setObjectName("list1031");
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setColumnCount(kTrackColumns);
    auto *header = new QTreeWidgetItem;
    for (int c = 0; c < kTrackColumns; ++c) {
        const TrackColumnSpec &column = kTrackColumnSpecs[c];
        header->setText(c, column.header_string ? QString::fromUtf8(LoadString(column.header_string)) : QString());
        header->setTextAlignment(c, AlignmentOf(column.align));
    }
    list_->setHeaderItem(header);
    list_->header()->setStretchLastSection(false);
    list_->header()->setMinimumSectionSize(0);
    for (int c = 0; c < kTrackColumns; ++c) {
        const TrackColumnSpec &column = kTrackColumnSpecs[c];
        list_->setColumnWidth(c, std::max(0, ini_.GetInt("TrackBar", column.key, column.default_width)));
    }
    list_->setMinimumHeight(list_->fontMetrics().height() * 4);
    setWidget(list_);
    ApplyInterfaceFont(this, face);

    connect(list_, &QTreeWidget::itemSelectionChanged, this, &TrackListBar::OnSelectionChanged);
    // Posted, as the frame receives it after this event has been handled.
    connect(
        list_, &QTreeWidget::itemDoubleClicked, this, [this] { emit commandRequested(ID_EXTRACT_TRACK); },
        Qt::QueuedConnection);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        QTreeWidgetItem *item = list_->itemAt(pos);
        QMenu *menu = BuildContextMenu(item ? list_->indexOfTopLevelItem(item) : -1);
        if (!menu) return;
        QAction *chosen = menu->exec(list_->viewport()->mapToGlobal(pos));
        const int id = chosen ? chosen->data().toInt() : 0;
        menu->deleteLater();
        if (id != 0) emit commandRequested(id);
    });
    installEventFilter(this);
    connect(this, &QDockWidget::topLevelChanged, this, [this](bool floating) {
        if (floating && float_requested_) emit floatCentredRequested();
        float_requested_ = false;
    });
}

void TrackListBar::Fill(const std::vector<TrackInfo> &tracks, int select) {
    filling_ = true;
    list_->clear();
    for (const TrackInfo &track : tracks) {
        auto *item = new QTreeWidgetItem(list_);
        for (int c = 0; c < kTrackColumns; ++c) {
            item->setText(c, QString::fromStdString(TrackCellText(track, c)));
            item->setTextAlignment(c, AlignmentOf(kTrackColumnSpecs[c].align));
        }
    }
    if (select < 0 || select >= list_->topLevelItemCount()) {
        list_->clearSelection();
        list_->setCurrentItem(nullptr);
    } else {
        QTreeWidgetItem *item = list_->topLevelItem(select);
        list_->setCurrentItem(item);
        item->setSelected(true);
        list_->scrollToItem(item);
    }
    filling_ = false;
}

void TrackListBar::OnSelectionChanged() {
    if (filling_) return;
    const QList<QTreeWidgetItem *> selected = list_->selectedItems();
    // Nothing selected keeps the document's current track.
    if (selected.isEmpty()) return;
    doc_.SelectTrack(list_->indexOfTopLevelItem(selected.front()));
    emit commandRequested(0);  // lets the frame refresh its command states
}

QMenu *TrackListBar::BuildContextMenu(int row) {
    if (row < 0 || row >= list_->topLevelItemCount()) return nullptr;
    auto *menu = new QMenu(this);
    for (const MenuItem &item : ContextMenuItems(131)) menu->addAction(QString::fromUtf8(item.text))->setData(item.id);
    return menu;
}

bool TrackListBar::eventFilter(QObject *watched, QEvent *event) {
    if (watched == this && event->type() == QEvent::MouseButtonDblClick && !isFloating()) float_requested_ = true;
    return QDockWidget::eventFilter(watched, event);
}

void TrackListBar::SaveColumnWidths() {
    for (int c = 0; c < kTrackColumns; ++c) ini_.WriteInt("TrackBar", kTrackColumnSpecs[c].key, list_->columnWidth(c));
}

}  // namespace lumast::qt
