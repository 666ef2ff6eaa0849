// lumast: the desktop disc-image browser.
#include <QApplication>
#include <QFileInfo>
#include <cstdio>

#include "application.h"
#include "main_frame.h"
#include "qt_ui.h"

int main(int argc, char **argv) {
    // Answered before Qt starts, so that they work without a display.
    const std::string answer = lumast::CommandLineAnswer(std::vector<std::string>(argv + 1, argv + argc));
    if (!answer.empty()) return std::fputs(answer.c_str(), stdout) < 0 ? 1 : 0;

    QApplication qapp(argc, argv);
    QApplication::setApplicationName("lumast");
    // Ties the windows to the installed desktop entry (its icon and name on Wayland).
    QGuiApplication::setDesktopFileName("lumast");
    lumast::qt::InstallQtTranslation();
    lumast::qt::QtUi ui;
    lumast::CLumastApp app(ui);
    ui.SetFontFace(app.FontFace());
    app.InitInstance();
    int status = 0;
    {
        lumast::qt::CMainFrame frame(app, ui);
        frame.ShowInitially();
        std::vector<std::string> args;
        const QStringList arguments = QApplication::arguments();
        for (qsizetype i = 1; i < arguments.size(); ++i) {
            const QString &arg = arguments[i];
            args.push_back(arg.isEmpty() || arg.startsWith('-') ? arg.toStdString()
                                                                : QFileInfo(arg).absoluteFilePath().toStdString());
        }
        frame.AfterOpen(app.ProcessCommandLine(args));
        status = QApplication::exec();
    }
    app.ExitInstance();
    return status;
}
