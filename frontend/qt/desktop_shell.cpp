#include "desktop_shell.h"

#include <dlfcn.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMimeDatabase>
#include <QMutex>
#include <QProcess>
#include <QTextStream>
#include <map>

#ifdef LUMAST_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#endif

namespace lumast::qt {
namespace {

QStringList EnvPaths(const char *name, const QString &fallback) {
    const QString value = qEnvironmentVariable(name);
    QStringList list = (value.isEmpty() ? fallback : value).split(':', Qt::SkipEmptyParts);
    return list;
}

QString DataHome() {
    const QString v = qEnvironmentVariable("XDG_DATA_HOME");
    return v.isEmpty() ? QDir::homePath() + "/.local/share" : v;
}
QString ConfigHome() {
    const QString v = qEnvironmentVariable("XDG_CONFIG_HOME");
    return v.isEmpty() ? QDir::homePath() + "/.config" : v;
}

// Application folders, most important first.
QStringList ApplicationDirs() {
    QStringList dirs{DataHome() + "/applications"};
    for (const QString &d : EnvPaths("XDG_DATA_DIRS", "/usr/local/share:/usr/share")) dirs << d + "/applications";
    return dirs;
}

// mimeapps.list files, most important first.
QStringList MimeAppsLists() {
    QStringList files{ConfigHome() + "/mimeapps.list"};
    for (const QString &d : EnvPaths("XDG_CONFIG_DIRS", "/etc/xdg")) files << d + "/mimeapps.list";
    files << DataHome() + "/applications/mimeapps.list";
    for (const QString &d : EnvPaths("XDG_DATA_DIRS", "/usr/local/share:/usr/share"))
        files << d + "/applications/mimeapps.list";
    return files;
}

using Sections = std::map<QString, std::map<QString, QString>>;

// A key file (desktop entry, mimeapps.list); only what this program reads, capped in size.
Sections ReadKeyFile(const QString &path) {
    Sections sections;
    QFile file(path);
    if (file.size() > (1 << 20) || !file.open(QIODevice::ReadOnly | QIODevice::Text)) return sections;
    QTextStream in(&file);
    QString section;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith('#')) continue;
        if (line.startsWith('[') && line.endsWith(']')) {
            section = line.mid(1, line.size() - 2);
            continue;
        }
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0) continue;
        const QString key = line.left(eq).trimmed();
        if (!sections[section].count(key)) sections[section][key] = line.mid(eq + 1).trimmed();
    }
    return sections;
}

QString LocalisedName(const std::map<QString, QString> &entry) {
    const QString locale = QLocale().name();  // e.g. ja_JP
    for (const QString &key : {"Name[" + locale + "]", "Name[" + locale.left(2) + "]", QString("Name")}) {
        const auto it = entry.find(key);
        if (it != entry.end() && !it->second.isEmpty()) return it->second;
    }
    return {};
}

struct AppEntry {
    DesktopApp app;
    QStringList mime_types;
    bool visible = true;
};

// Every desktop entry of type Application, first folder wins for an id.
std::vector<AppEntry> ScanApps() {
    std::vector<AppEntry> apps;
    QStringList seen;
    for (const QString &dir : ApplicationDirs()) {
        const QStringList names = QDir(dir).entryList({"*.desktop"}, QDir::Files | QDir::Readable, QDir::Name);
        for (const QString &name : names) {
            if (seen.contains(name)) continue;
            seen << name;
            const Sections s = ReadKeyFile(dir + "/" + name);
            const auto it = s.find("Desktop Entry");
            if (it == s.end()) continue;
            const auto &e = it->second;
            auto get = [&e](const char *key) {
                const auto f = e.find(key);
                return f == e.end() ? QString() : f->second;
            };
            if (get("Type") != "Application" || get("Hidden") == "true" || get("Exec").isEmpty()) continue;
            AppEntry entry;
            entry.app = {name, LocalisedName(e), get("Exec"), dir + "/" + name};
            if (entry.app.name.isEmpty()) entry.app.name = name;
            entry.mime_types = get("MimeType").split(';', Qt::SkipEmptyParts);
            entry.visible = get("NoDisplay") != "true";
            apps.push_back(entry);
        }
    }
    return apps;
}

QStringList ListValue(const Sections &s, const char *section, const QString &key) {
    const auto it = s.find(section);
    if (it == s.end()) return {};
    const auto k = it->second.find(key);
    return k == it->second.end() ? QStringList() : k->second.split(';', Qt::SkipEmptyParts);
}

#ifdef LUMAST_HAVE_DBUS
constexpr const char *kSaverService = "org.freedesktop.ScreenSaver";
constexpr const char *kSaverPath = "/org/freedesktop/ScreenSaver";
QMutex saver_mutex;
uint saver_cookie = 0;
#endif

}  // namespace

QString DesktopShell::MimeTypeOfName(const QString &name) {
    return QMimeDatabase().mimeTypeForFile(name, QMimeDatabase::MatchExtension).name();
}

std::vector<DesktopApp> DesktopShell::AppsForMimeType(const QString &mime) {
    const std::vector<AppEntry> all = ScanApps();
    QStringList types{mime};
    const QMimeType type = QMimeDatabase().mimeTypeForName(mime);
    if (type.isValid()) types << type.allAncestors();
    types.removeAll("application/octet-stream");

    QStringList ids, removed;
    for (const QString &list : MimeAppsLists()) {
        const Sections s = ReadKeyFile(list);
        for (const QString &t : types) {
            for (const QString &id : ListValue(s, "Default Applications", t)) ids << id;
            for (const QString &id : ListValue(s, "Added Associations", t)) ids << id;
            removed << ListValue(s, "Removed Associations", t);
        }
    }
    for (const QString &t : types)
        for (const AppEntry &e : all)
            if (e.mime_types.contains(t)) ids << e.app.id;

    std::vector<DesktopApp> apps;
    QStringList taken;
    for (const QString &id : ids) {
        if (taken.contains(id) || removed.contains(id)) continue;
        for (const AppEntry &e : all) {
            if (e.app.id == id) {
                apps.push_back(e.app);
                taken << id;
                break;
            }
        }
    }
    return apps;
}

DesktopApp DesktopShell::DefaultApp(const QString &mime) {
    const std::vector<DesktopApp> apps = AppsForMimeType(mime);
    return apps.empty() ? DesktopApp{} : apps.front();
}

std::vector<DesktopApp> DesktopShell::AllApps() {
    std::vector<DesktopApp> apps;
    for (const AppEntry &e : ScanApps())
        if (e.visible) apps.push_back(e.app);
    return apps;
}

DesktopApp DesktopShell::FindApp(const QString &id) {
    for (const AppEntry &e : ScanApps())
        if (e.app.id == id) return e.app;
    return {};
}

QStringList DesktopShell::ExpandExec(const QString &exec, const QString &file) {
    // Split as the desktop entry format quotes arguments: double quotes with backslash escapes.
    QStringList words;
    QString word;
    bool quoted = false, any = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted) {
            if (c == '\\' && i + 1 < exec.size()) {
                word += exec[++i];
            } else if (c == '"') {
                quoted = false;
            } else {
                word += c;
            }
        } else if (c == '"') {
            quoted = true;
            any = true;
        } else if (c == ' ' || c == '\t') {
            if (any || !word.isEmpty()) words << word;
            word.clear();
            any = false;
        } else {
            word += c;
        }
    }
    if (any || !word.isEmpty()) words << word;

    QStringList out;
    bool file_given = false;
    for (const QString &w : words) {
        if (w == "%f" || w == "%F" || w == "%u" || w == "%U") {
            out << file;
            file_given = true;
            continue;
        }
        if (w == "%i" || w == "%c" || w == "%k") continue;
        QString expanded;
        for (qsizetype i = 0; i < w.size(); ++i) {
            if (w[i] != '%' || i + 1 >= w.size()) {
                expanded += w[i];
                continue;
            }
            const QChar code = w[++i];
            if (code == '%')
                expanded += '%';
            else if (code == 'f' || code == 'F' || code == 'u' || code == 'U') {
                expanded += file;
                file_given = true;
            }
        }
        out << expanded;
    }
    if (!file_given && !out.isEmpty()) out << file;
    return out;
}

bool DesktopShell::Launch(const DesktopApp &app, const QString &file) {
    QStringList command = ExpandExec(app.exec, file);
    if (command.isEmpty()) return false;
    const QString program = command.takeFirst();
    return QProcess::startDetached(program, command, QFileInfo(file).absolutePath());
}

bool DesktopShell::PlayThemeSound(const char *event_id) {
    // libcanberra is taken at run time, so that the program runs where it is missing.
    using Create = int (*)(void **context);
    using SetDriver = int (*)(void *context, const char *driver);
    using Play = int (*)(void *context, uint32_t id, ...);
    struct Canberra {
        void *context = nullptr;
        Play play = nullptr;
    };
    static const Canberra canberra = [] {
        Canberra c;
        void *library = dlopen("libcanberra.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!library) return c;
        const auto create = reinterpret_cast<Create>(dlsym(library, "ca_context_create"));
        const auto set_driver = reinterpret_cast<SetDriver>(dlsym(library, "ca_context_set_driver"));
        c.play = reinterpret_cast<Play>(dlsym(library, "ca_context_play"));
        if (!create || !set_driver || !c.play || create(&c.context) != 0) return Canberra{};
        // The session's sound server only: straight to ALSA it would print its complaints on a machine
        // without sound.
        if (set_driver(c.context, "pulse") != 0) return Canberra{};
        return c;
    }();
    if (!canberra.context) return false;
    // CA_PROP_EVENT_ID and CA_PROP_APPLICATION_NAME; the list ends with a null.
    return canberra.play(canberra.context, 0, "event.id", event_id, "application.name", "lumast", nullptr) == 0;
}

bool DesktopShell::ScreenSaverPresent() {
#ifdef LUMAST_HAVE_DBUS
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return false;
    return bus.interface()->isServiceRegistered(kSaverService).value();
#else
    return false;
#endif
}

void DesktopShell::Inhibit(bool on) {
#ifdef LUMAST_HAVE_DBUS
    QMutexLocker lock(&saver_mutex);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusInterface saver(kSaverService, kSaverPath, kSaverService, bus);
    if (!saver.isValid()) return;
    if (on && saver_cookie == 0) {
        const QDBusReply<uint> reply = saver.call("Inhibit", QStringLiteral("lumast"), QStringLiteral("extracting"));
        if (reply.isValid()) saver_cookie = reply.value();
    } else if (!on && saver_cookie != 0) {
        saver.call("UnInhibit", saver_cookie);
        saver_cookie = 0;
    }
#else
    (void)on;
#endif
}

}  // namespace lumast::qt
