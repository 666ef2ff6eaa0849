// The desktop shell on Linux: applications registered for a MIME type (freedesktop desktop entries and
// mimeapps.list), launching one of them on a file, and the screen saver switch over D-Bus.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

namespace lumast::qt {

struct DesktopApp {
    QString id;  // desktop file id, e.g. "org.example.Viewer.desktop"
    QString name;
    QString exec;
    QString path;  // the desktop file
};

class DesktopShell {
public:
    // MIME type of a file name by its extension ("application/octet-stream" when unknown).
    static QString MimeTypeOfName(const QString &name);
    // Applications for a MIME type (its own, then those of its parent types), the default one first.
    static std::vector<DesktopApp> AppsForMimeType(const QString &mime);
    // The default application for a MIME type, or an empty record.
    static DesktopApp DefaultApp(const QString &mime);
    // Every application that can be shown in a chooser.
    static std::vector<DesktopApp> AllApps();
    static DesktopApp FindApp(const QString &id);
    // Program and arguments of an Exec line for one file (desktop entry field codes expanded).
    static QStringList ExpandExec(const QString &exec, const QString &file);
    // Starts the application on the file, detached. False when it could not be started.
    static bool Launch(const DesktopApp &app, const QString &file);

    // Plays a sound of the freedesktop sound theme through the session's sound server ("dialog-warning",
    // ...). False when the desktop offers none (libcanberra or the theme missing, no sound server).
    static bool PlayThemeSound(const char *event_id);

    // Screen saver: true when a screen saver that can be inhibited is present. Inhibit(false) releases.
    static bool ScreenSaverPresent();
    static void Inhibit(bool on);
};

}  // namespace lumast::qt
