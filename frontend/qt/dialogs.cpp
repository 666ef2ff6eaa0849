#include "dialogs.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QTreeWidget>

#include "application.h"
#include "dialog_rules.h"
#include "string_table.h"
#include "ui_services.h"

namespace lumast::qt {
namespace {

QString Q(const std::string &text) {
    return QString::fromStdString(text);
}

QLabel *MakeLabel(QWidget *parent, int id, const QString &text = {}) {
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString("label%1").arg(id));
    return label;
}

}  // namespace

void ApplyInterfaceFont(QWidget *widget, const std::string &face) {
    if (face.empty()) return;
    QFont font = widget->font();
    font.setFamily(Q(face));
    widget->setFont(font);
}

QStringList NameFiltersOf(const std::string &resource) {
    QStringList filters;
    for (const NameFilter &f : ParseFilterResource(resource)) filters << Q(f.text) + " (" + Q(f.patterns) + ")";
    return filters;
}

QIcon ProgramIcon() {
    static const QIcon icon = [] {
        QIcon result;
        for (int size : {16, 32, 48}) {
            QPixmap pixmap(size, size);
            pixmap.fill(Qt::transparent);
            QPainter p(&pixmap);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(QPen(QColor(90, 90, 110), size / 16.0));
            QRadialGradient shine(size * 0.35, size * 0.35, size * 0.7);
            shine.setColorAt(0, QColor(250, 250, 255));
            shine.setColorAt(0.5, QColor(170, 200, 235));
            shine.setColorAt(1, QColor(200, 170, 230));
            p.setBrush(shine);
            p.drawEllipse(QRectF(0.5, 0.5, size - 1.0, size - 1.0));
            p.setBrush(Qt::white);
            p.drawEllipse(QPointF(size / 2.0, size / 2.0), size / 7.0, size / 7.0);
            result.addPixmap(pixmap);
        }
        return result;
    }();
    return icon;
}

// ---- Progress (102) -------------------------------------------------------------------------------------

ProgressDialog::ProgressDialog(std::function<void()> body, const std::string &face, QWidget *parent)
    : QDialog(parent), body_(std::move(body)) {
    setWindowTitle("解凍中…");
    setObjectName("dialog102");
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    description_ = MakeLabel(this, 1009);
    bytes_ = MakeLabel(this, 1011);
    file_percent_ = MakeLabel(this, 1013);
    total_percent_ = MakeLabel(this, 1014);
    for (QLabel *l : {description_, bytes_}) l->setMinimumWidth(360);
    description_->setTextFormat(Qt::PlainText);
    for (QLabel *l : {file_percent_, total_percent_}) {
        l->setMinimumWidth(l->fontMetrics().horizontalAdvance("100%") + 8);
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    file_bar_ = new QProgressBar(this);
    file_bar_->setObjectName("bar1008");
    total_bar_ = new QProgressBar(this);
    total_bar_->setObjectName("bar1012");
    for (QProgressBar *bar : {file_bar_, total_bar_}) {
        bar->setTextVisible(false);
        bar->setRange(0, 100);
        bar->setValue(0);
    }
    abort_button_ = new QPushButton("中止", this);
    abort_button_->setObjectName("button2");
    abort_button_->setAutoDefault(false);
    connect(abort_button_, &QPushButton::clicked, this, &ProgressDialog::reject);

    auto *grid = new QGridLayout(this);
    grid->addWidget(description_, 0, 0, 1, 2);
    grid->addWidget(bytes_, 1, 0, 1, 2);
    grid->addWidget(file_bar_, 2, 0);
    grid->addWidget(file_percent_, 2, 1);
    grid->addWidget(total_bar_, 3, 0);
    grid->addWidget(total_percent_, 3, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(abort_button_);
    grid->addLayout(buttons, 4, 0, 1, 2);
    ApplyInterfaceFont(this, face);
}

ProgressDialog::~ProgressDialog() {
    if (thread_) {
        thread_->wait();
        delete thread_;
    }
}

void ProgressDialog::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (state_) return;
    layout()->activate();
    const int width = std::max(file_bar_->contentsRect().width(), 1);
    state_ = std::make_unique<ProgressState>(width);
    for (QProgressBar *bar : {file_bar_, total_bar_}) {
        bar->setRange(0, width);
        bar->setValue(0);
    }
    state_->Open();
    for (QLabel *l : {description_, bytes_, file_percent_, total_percent_}) l->clear();
    if (!body_) return;
    thread_ = QThread::create(body_);
    connect(thread_, &QThread::finished, this, [this] {
        worker_done_ = true;
        // A body that ended without closing the dialog must not leave it open.
        if (isVisible()) CloseFromWorker();
    });
    thread_->start(QThread::NormalPriority);
}

void ProgressDialog::Show(const ProgressDisplay &d) {
    if (d.description_changed) description_->setText(Q(d.description));
    bytes_->setText(Q(d.bytes));
    if (d.file_percent_changed) file_percent_->setText(Q(d.file_percent));
    if (d.total_percent_changed) total_percent_->setText(Q(d.total_percent));
    file_bar_->setValue(d.file_bar);
    total_bar_->setValue(d.total_bar);
}

void ProgressDialog::BeginFile(const std::string &description, uint64_t file_size, uint64_t total) {
    if (!state_) return;
    const ProgressDisplay d = state_->BeginFile(description, file_size, total);
    QMetaObject::invokeMethod(
        this, [this, d] { Show(d); }, Qt::QueuedConnection);
}

int ProgressDialog::Advance(uint64_t bytes) {
    if (!state_) return 0;
    ProgressDisplay d;
    if (state_->Advance(bytes, &d))
        QMetaObject::invokeMethod(
            this, [this, d] { Show(d); }, Qt::QueuedConnection);
    return state_->AbortFlag();
}

void ProgressDialog::CloseFromWorker() {
    if (state_) state_->MarkClosing();
    QMetaObject::invokeMethod(
        this, [this] { done(QDialog::Accepted); }, Qt::QueuedConnection);
}

void ProgressDialog::WaitForWorker() {
    if (!thread_) return;
    QEventLoop loop;
    connect(thread_, &QThread::finished, &loop, &QEventLoop::quit);
    if (!thread_->isFinished()) loop.exec();
    thread_->wait();
}

QLabel *ProgressDialog::Label(int id) const {
    return findChild<QLabel *>(QString("label%1").arg(id));
}

QProgressBar *ProgressDialog::Bar(int id) const {
    return findChild<QProgressBar *>(QString("bar%1").arg(id));
}

void ProgressDialog::done(int result) {
    // Only the worker ends the dialog.
    if (state_ && state_->MayClose()) QDialog::done(result);
}

void ProgressDialog::reject() {
    if (state_) state_->Abort();
}

void ProgressDialog::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) return;
    QDialog::keyPressEvent(event);
}

void ProgressDialog::closeEvent(QCloseEvent *event) {
    if (state_ && state_->MayClose()) {
        QDialog::closeEvent(event);
        return;
    }
    reject();
    event->ignore();
}

// ---- Overwrite question (104) ---------------------------------------------------------------------------

OverwriteDialog::OverwriteDialog(const std::string &path, const std::string &face, QWidget *parent) : QDialog(parent) {
    setWindowTitle("既存のファイルを置き換えますか?");
    setObjectName("dialog104");
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    QString text = QString::fromUtf8(LoadString(IDS_OVERWRITE_QUESTION));
    text.replace("%s", Q(path));
    message_ = MakeLabel(this, 1001, text);
    message_->setTextFormat(Qt::PlainText);
    message_->setWordWrap(true);
    message_->setMinimumWidth(380);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(message_);
    auto *row = new QHBoxLayout;
    row->addStretch();
    const std::pair<int, const char *> buttons[] = {{OVERWRITE_YES, "はい(&Y)"},
                                                    {OVERWRITE_SKIP, "スキップ(&S)"},
                                                    {OVERWRITE_ALL, "全て上書き(&A)"},
                                                    {OVERWRITE_ABORT, "全中止(&E)"}};
    for (const auto &[id, label] : buttons) {
        auto *button = new QPushButton(label, this);
        button->setObjectName(QString("button%1").arg(id));
        button->setAutoDefault(id == OVERWRITE_SKIP);
        button->setDefault(id == OVERWRITE_SKIP);
        const int answer = id;
        connect(button, &QPushButton::clicked, this, [this, answer] { done(answer); });
        row->addWidget(button);
    }
    layout->addLayout(row);
    ApplyInterfaceFont(this, face);
}

QPushButton *OverwriteDialog::Button(int id) const {
    return findChild<QPushButton *>(QString("button%1").arg(id));
}

QString OverwriteDialog::Message() const {
    return message_->text();
}

void OverwriteDialog::reject() {
    done(OVERWRITE_ABORT);
}

// ---- Volume information (132) ---------------------------------------------------------------------------

VolumeInfoDialog::VolumeInfoDialog(CLumastDoc *doc, const std::string &face, QWidget *parent)
    : QDialog(parent), doc_(doc) {
    setWindowTitle("ボリュームの情報");
    setObjectName("dialog132");
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    auto *group = new QGroupBox("ファイルシステム(&S)", this);
    iso_ = new QRadioButton("&ISO9660", group);
    joliet_ = new QRadioButton("&joliet", group);
    udf_ = new QRadioButton("&UDF", group);
    iso_->setObjectName("radio1021");
    joliet_->setObjectName("radio1022");
    udf_->setObjectName("radio1023");
    auto *radios = new QHBoxLayout(group);
    radios->addWidget(iso_);
    radios->addWidget(joliet_);
    radios->addWidget(udf_);
    radios->addStretch();

    list_ = new QTreeWidget(this);
    list_->setObjectName("list1024");
    list_->setRootIsDecorated(false);
    list_->setColumnCount(2);
    list_->setHeaderLabels({"name", "data"});
    list_->setColumnWidth(0, 160);
    list_->setColumnWidth(1, 244);
    list_->setMinimumSize(160 + 244 + 120, 400);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setAllColumnsShowFocus(true);

    auto *close = new QPushButton("閉じる(&C)", this);
    close->setObjectName("button2");
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(list_, 1);
    auto *row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(close);
    layout->addLayout(row);
    ApplyInterfaceFont(this, face);

    const int present = doc_ ? doc_->GetPresentFileSystems() : 0;
    iso_->setEnabled(present & 1);
    joliet_->setEnabled(present & 2);
    udf_->setEnabled(present & 4);
    if (doc_) {
        const int kind = InitialVolumeKind(present);
        Radio(kind)->setChecked(true);
        ShowKind(kind);
    }
    for (int kind : {1, 2, 4}) connect(Radio(kind), &QRadioButton::clicked, this, [this, kind] { ShowKind(kind); });
}

QRadioButton *VolumeInfoDialog::Radio(int kind) const {
    return kind == 2 ? joliet_ : kind == 4 ? udf_ : iso_;
}

void VolumeInfoDialog::ShowKind(int kind) {
    list_->clear();
    shown_ = kind;
    if (!doc_) return;
    for (const VolumeInfoRow &row : doc_->FillVolumeInfo(kind)) new QTreeWidgetItem(list_, {Q(row.name), Q(row.data)});
}

// ---- Default destination (134) --------------------------------------------------------------------------

DestinationDialog::DestinationDialog(const DestinationSettings &values, UiServices &ui, const std::string &face,
                                     QWidget *parent)
    : QDialog(parent), ui_(ui) {
    setWindowTitle("解凍先フォルダの初期設定");
    setObjectName("dialog134");
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    combo_ = new QComboBox(this);
    combo_->setObjectName("combo1038");
    const std::pair<int, int> entries[] = {
        {IDS_DEST_DOCUMENTS, 0}, {IDS_DEST_IMAGE_FOLDER, 1}, {IDS_DEST_APPOINTED, 2}};
    for (const auto &[string_id, kind] : entries) combo_->addItem(QString::fromUtf8(LoadString(string_id)), kind);
    folder_ = new QLineEdit(Q(values.appoint_path), this);
    folder_->setObjectName("edit1036");
    folder_->setMinimumWidth(320);
    browse_ = new QPushButton("...", this);
    browse_->setObjectName("button1037");
    browse_->setAutoDefault(false);
    always_ = new QCheckBox("常にここで指定した場所に解凍する(&A)", this);
    always_->setObjectName("check1039");
    always_->setChecked(values.no_select_dialog != 0);
    volume_ = new QCheckBox("全解凍時にボリュームラベル名フォルダを作成し、そこに解凍する(&V)", this);
    volume_->setObjectName("check1040");
    volume_->setChecked(values.add_volume_label != 0);
    auto *ok = new QPushButton("決定(&O)", this);
    ok->setObjectName("button1");
    ok->setDefault(true);
    auto *cancel = new QPushButton("取り止める(&C)", this);
    cancel->setObjectName("button2");
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(browse_, &QPushButton::clicked, this, &DestinationDialog::OnBrowse);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(combo_);
    auto *folder_row = new QHBoxLayout;
    folder_row->addWidget(folder_, 1);
    folder_row->addWidget(browse_);
    layout->addLayout(folder_row);
    layout->addWidget(always_);
    layout->addWidget(volume_);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    ApplyInterfaceFont(this, face);

    const int index = combo_->findData(values.initial_path_type);
    combo_->setCurrentIndex(index >= 0 ? index : 1);
    ApplyKind(combo_->currentData().toInt());
    connect(combo_, &QComboBox::activated, this, [this](int i) { ApplyKind(combo_->itemData(i).toInt()); });
}

void DestinationDialog::ApplyKind(int kind) {
    const DestinationField field = DestinationKindRule(kind, folder_->text().toStdString(), ui_.DocumentsFolder());
    folder_->setText(Q(field.folder));
    folder_->setEnabled(field.editable);
    browse_->setEnabled(field.editable);
}

void DestinationDialog::OnBrowse() {
    std::string chosen;
    if (ui_.ChooseFolder(LoadString(IDS_CHOOSE_FOLDER), folder_->text().toStdString(), &chosen))
        folder_->setText(Q(chosen));
}

DestinationSettings DestinationDialog::Values() const {
    DestinationSettings v;
    v.initial_path_type = combo_->currentData().toInt();
    v.appoint_path = folder_->text().toStdString();
    v.no_select_dialog = always_->isChecked() ? 1 : 0;
    v.add_volume_label = volume_->isChecked() ? 1 : 0;
    return v;
}

// ---- About (100) ----------------------------------------------------------------------------------------

AboutDialog::AboutDialog(const std::string &face, QWidget *parent) : QDialog(parent) {
    setWindowTitle("ぽてりこについて");
    setObjectName("dialog100");
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    auto *icon = new QLabel(this);
    icon->setPixmap(ProgramIcon().pixmap(32, 32));
    auto *name = new QLabel("ぽてりこ", this);
    auto *version = new QLabel("Version 0.100", this);
    // The package this program came in, as its package manager and --version name it.
    auto *release = new QLabel(Q(PackageVersionText()), this);
    auto *ok = new QPushButton("OK", this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(icon, 0, Qt::AlignTop);
    auto *texts = new QVBoxLayout;
    texts->addWidget(name);
    texts->addWidget(version);
    texts->addWidget(release);
    layout->addLayout(texts, 1);
    layout->addWidget(ok, 0, Qt::AlignTop);
    ApplyInterfaceFont(this, face);
}

}  // namespace lumast::qt
