// The document's settings record and where it is stored.
#pragma once

#include <cstdint>
#include <string>

#include "ini_profile.h"

namespace lumast {

struct Settings {
    int32_t show_iso_files = 0;      // ShowList/iso9660
    int32_t show_joliet_files = 1;   // ShowList/joliet
    int32_t show_udf_files = 0;      // ShowList/udf
    int32_t show_iso_system = 0;     // ShowList/isosystem
    int32_t show_joliet_system = 0;  // ShowList/jolietsystem
    int32_t show_udf_system = 0;     // ShowList/udfsystem
    uint32_t options = 0;            // Option/options: OPEN_CHECK_EDC, OPEN_CHECK_POSITION, others kept
    int32_t include_path = 0;        // Option/IncludePath
    int32_t add_pregap = 0;          // Option/AddPregap
    int32_t prefer_udf = 0;          // Option/UseUDF
    int32_t initial_path_type = 1;   // Folder/InitialPathType: 0 documents, 1 image folder, 2 appointed
    std::string appoint_path;        // Folder/AppointPath
    int32_t no_select_dialog = 0;    // Folder/NoSelectDialog
    int32_t add_volume_label = 0;    // Folder/AddVolumeLabel
    // Beyond the described record: the Rock Ridge catalogue's show flag and the switch of the extended
    // formats (OPEN_EXTENSIONS added to `options` when opening, never stored in it).
    int32_t show_rockridge_files = 0;  // ShowList/rockridge
    int32_t extensions = 1;            // Option/Extensions

    // The options word handed to QorvexOpen.
    uint32_t OpenOptions() const;

    void Read(const IniProfile &ini);
    void Write(IniProfile &ini) const;
};

// Portable layout (the program's folder writable by the user and not under /usr): "<program path without
// extension>.INI". Otherwise $XDG_CONFIG_HOME/lumast/lumast.INI (~/.config when unset); when that file is
// missing, the INI beside the program gives its first contents. `program_path` empty: this process's program.
std::string IniLocation(const std::string &program_path = {});

}  // namespace lumast
