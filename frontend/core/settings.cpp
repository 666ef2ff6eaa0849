#include "settings.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "platform.h"
#include "qorvex.h"

namespace lumast {

void Settings::Read(const IniProfile &ini) {
    show_iso_files = ini.GetInt("ShowList", "iso9660", 0);
    show_joliet_files = ini.GetInt("ShowList", "joliet", 1);
    show_udf_files = ini.GetInt("ShowList", "udf", 0);
    show_iso_system = ini.GetInt("ShowList", "isosystem", 0);
    show_joliet_system = ini.GetInt("ShowList", "jolietsystem", 0);
    show_udf_system = ini.GetInt("ShowList", "udfsystem", 0);
    options = static_cast<uint32_t>(ini.GetInt("Option", "options", 0));
    include_path = ini.GetInt("Option", "IncludePath", 0);
    add_pregap = ini.GetInt("Option", "AddPregap", 0);
    prefer_udf = ini.GetInt("Option", "UseUDF", 0);
    initial_path_type = ini.GetInt("Folder", "InitialPathType", 1);
    appoint_path = ini.GetString("Folder", "AppointPath", "");
    no_select_dialog = ini.GetInt("Folder", "NoSelectDialog", 0);
    add_volume_label = ini.GetInt("Folder", "AddVolumeLabel", 0);
    show_rockridge_files = ini.GetInt("ShowList", "rockridge", 0);
    extensions = ini.GetInt("Option", "Extensions", 1);
}

void Settings::Write(IniProfile &ini) const {
    ini.WriteInt("ShowList", "iso9660", show_iso_files);
    ini.WriteInt("ShowList", "joliet", show_joliet_files);
    ini.WriteInt("ShowList", "udf", show_udf_files);
    ini.WriteInt("ShowList", "isosystem", show_iso_system);
    ini.WriteInt("ShowList", "jolietsystem", show_joliet_system);
    ini.WriteInt("ShowList", "udfsystem", show_udf_system);
    ini.WriteInt("Option", "options", static_cast<int32_t>(options));
    ini.WriteInt("Option", "IncludePath", include_path);
    ini.WriteInt("Option", "AddPregap", add_pregap);
    ini.WriteInt("Option", "UseUDF", prefer_udf);
    ini.WriteInt("Folder", "InitialPathType", initial_path_type);
    ini.WriteString("Folder", "AppointPath", appoint_path);
    ini.WriteInt("Folder", "NoSelectDialog", no_select_dialog);
    ini.WriteInt("Folder", "AddVolumeLabel", add_volume_label);
    ini.WriteInt("ShowList", "rockridge", show_rockridge_files);
    ini.WriteInt("Option", "Extensions", extensions);
}

uint32_t Settings::OpenOptions() const {
    return extensions ? options | OPEN_EXTENSIONS : options;
}

namespace {

// An installed program shares its folder with every user and every other program: its settings are the user's.
bool PortableLayout(const std::string &folder) {
    return folder.rfind("/usr/", 0) != 0 && platform::FolderWritable(folder);
}

std::string UserConfigFolder() {
    const char *xdg = std::getenv("XDG_CONFIG_HOME");
    // XDG_CONFIG_HOME counts only as an absolute path (the freedesktop base-directory rule); a relative one is ignored.
    if (xdg && *xdg == '/') return xdg;
    const char *home = std::getenv("HOME");
    // Without HOME the account's own folder, never the file system's root.
    if (!home || *home != '/') {
        const passwd *account = getpwuid(getuid());
        home = account && account->pw_dir ? account->pw_dir : "/nonexistent";
    }
    return std::string(home) + "/.config";
}

// The first run of an installed program starts from the settings an administrator left beside it.
void SeedFrom(const std::string &defaults, const std::string &path) {
    if (platform::Exists(path) || !platform::Exists(defaults)) return;
    std::ifstream in(defaults, std::ios::binary);
    std::ofstream out(path, std::ios::binary);
    out << in.rdbuf();
}

}  // namespace

std::string IniLocation(const std::string &program_path) {
    const std::string program = program_path.empty() ? platform::ProgramPath() : program_path;
    const size_t slash = program.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string("./") : program.substr(0, slash + 1);
    std::string file = slash == std::string::npos ? program : program.substr(slash + 1);
    // Only the file name's own extension is cut, never a dot in a folder name.
    const size_t dot = file.rfind('.');
    if (dot != std::string::npos && dot > 0) file = file.substr(0, dot);
    const std::string beside = folder + file + ".INI";
    if (!program.empty() && PortableLayout(folder)) return beside;

    const std::string dir = UserConfigFolder() + "/lumast";
    platform::MakeOutputFolders(dir);
    const std::string path = dir + "/lumast.INI";
    if (!program.empty()) SeedFrom(beside, path);
    return path;
}

}  // namespace lumast
