// Renders the main window with an image open and the dialogs into PNG files:
//   lumast_screenshots <image> <output folder>
// Runs on any Qt platform; with QT_QPA_PLATFORM=offscreen no display is needed.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>

#include "application.h"
#include "dialogs.h"
#include "file_list_view.h"
#include "main_frame.h"
#include "qt_ui.h"
#include "track_list_bar.h"

namespace {

bool Save(QWidget *widget, const QString &folder, const char *name) {
    widget->show();
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    const QString path = QDir(folder).filePath(name);
    const bool ok = widget->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", path.toLocal8Bit().constData());
    return ok;
}

}  // namespace

int main(int argc, char **argv) {
    QApplication qapp(argc, argv);
    lumast::qt::InstallQtTranslation();
    const QStringList args = QApplication::arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: lumast_screenshots <image> <output folder>\n");
        return 2;
    }
    const QString image = args[1], out = args[2];
    QDir().mkpath(out);
    QTemporaryDir scratch;
    using namespace lumast;
    qt::QtUi ui;
    const std::string ini = scratch.filePath("lumast.INI").toStdString();
    // Column widths as a user keeps them for this font, so that no cell is cut short.
    IniProfile(ini).WriteInt("Column", "system", 120);
    IniProfile(ini).WriteInt("Column", "name", 230);
    CLumastApp app(ui, ini);
    ui.SetFontFace(app.FontFace());
    DocumentOptions options;
    options.temp_root = scratch.path().toStdString();
    app.InitInstance(options);
    bool ok = true;
    {
        qt::CMainFrame frame(app, ui);
        frame.resize(1024, 720);
        frame.show();
        if (!frame.OpenDocument(image)) return 1;
        // Joliet files with the system parts of ISO 9660 and Joliet beside them.
        frame.OnCommand(ID_SHOW_ISO_SYSTEM);
        frame.OnCommand(ID_SHOW_JOLIET_SYSTEM);
        frame.FileList()->SortColumn(2);
        ok &= Save(&frame, out, "main-window.png");

        qt::VolumeInfoDialog volume(app.Document(), app.FontFace(), &frame);
        ok &= Save(&volume, out, "volume-information.png");

        qt::ProgressDialog progress({}, app.FontFace(), &frame);
        progress.show();
        progress.BeginFile("DOCS/GUIDE.TXT", 1500000, 4000000);
        for (int i = 0; i < 512; ++i) progress.Advance(1500);
        ok &= Save(&progress, out, "progress.png");

        qt::DestinationDialog destination(app.Document()->GetDestinationSettings(), ui, app.FontFace(), &frame);
        destination.Combo()->setCurrentIndex(2);
        destination.ApplyKind(2);
        ok &= Save(&destination, out, "destination.png");

        qt::OverwriteDialog overwrite("/home/user/Documents/sample/README.TXT", app.FontFace(), &frame);
        ok &= Save(&overwrite, out, "overwrite.png");

        const std::unique_ptr<QFileDialog> open = frame.MakeOpenDialog();
        open->setDirectory(QFileInfo(image).absolutePath());
        ok &= Save(open.get(), out, "open.png");

        qt::AboutDialog about(app.FontFace(), &frame);
        ok &= Save(&about, out, "about.png");
        frame.SaveState();
    }
    app.ExitInstance();
    return ok ? 0 : 1;
}
