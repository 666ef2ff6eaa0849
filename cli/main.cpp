// qorvex: list and extract the tracks, files and system parts of CD and DVD disc images.
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "output.h"
#include "qorvex.h"
#include "qorvex_version.h"

namespace {

using cli::Args;

struct Command {
    const char *name;
    int (*run)(const Args &);
    int min_positional;
    int max_positional;  // -1: no limit
    std::vector<std::string> flags;
    std::vector<std::string> values;
    const char *help;
};

const char kGlobalHelp[] =
    "Global options (accepted by every command):\n"
    "  --check-edc       check the error detection code (EDC) of every raw sector read; ls --long, ls --json\n"
    "                    and extract read each file first and mark one over failing sectors as damaged\n"
    "  --check-position  check the address in each raw sector's header and skip to the matching sector\n"
    "  --no-extensions   read only ISO 9660, Joliet and UDF as the engine describes them (no Rock Ridge,\n"
    "                    boot images, UDF 2.x or disc sheets)\n"
    "  -q, --quiet       no progress line (shown on a terminal during long extractions)\n"
    "  -v, --verbose     name the engine's result codes in messages\n"
    "  -h, --help        show help\n"
    "  --version         show the version of qorvex and of its engine\n";

const std::vector<Command> &Commands() {
    static const std::vector<Command> commands = {
        {"tracks",
         cli::RunTracks,
         1,
         1,
         {"--json"},
         {},
         "Usage: qorvex tracks IMAGE [--json]\n"
         "List the CD tracks of IMAGE (an image file, a Nero .nrg or DiscJuggler .cdi image, or a .cue, .toc,\n"
         ".ccd or .mds sheet beside its files): session, track number, sector format, pregap position, start and\n"
         "length, as MM:SS:FF (75 frames a second; a leading \"-\" marks a position before sector 0).\n"
         "  --json  a JSON array with one object per track (positions in sectors)\n"},
        {"extract-track",
         cli::RunExtractTrack,
         2,
         2,
         {"--raw", "--wav", "--pregap"},
         {"-o"},
         "Usage: qorvex extract-track IMAGE N -o FILE [--raw] [--wav] [--pregap]\n"
         "Write track N (the 1-based track number shown by \"qorvex tracks\") to FILE (\"-\" for standard\n"
         "output). A data track gives its user data unless --raw is given; an audio track is always raw.\n"
         "  --raw     whole stored sectors (subchannel data dropped)\n"
         "  --wav     a 44-byte WAV header in front of the sectors (implies --raw)\n"
         "  --pregap  begin with the first pregap sector the image holds (implies --raw)\n"},
        {"info",
         cli::RunInfo,
         1,
         1,
         {"--json"},
         {},
         "Usage: qorvex info IMAGE [--json]\n"
         "Show, for every track, the file systems present with their labels, file and system-part counts,\n"
         "and the track's size in sectors and bytes; for a cut or damaged image, what was salvaged (where it\n"
         "ends against the size its volume records, the structures that could not be read, the fallback used).\n"
         "  --json  a JSON array with one object per track\n"},
        {"ls",
         cli::RunList,
         1,
         1,
         {"--system", "--long", "--json", "--files-only"},
         {"--fs", "--track"},
         "Usage: qorvex ls IMAGE [--fs auto|rockridge|joliet|udf|iso] [--track N] [--system] [--long] [--json]\n"
         "                      [--files-only]\n"
         "List the folders (ending in \"\\\") and files of one file system of a track (default: the first track\n"
         "that has one). A track without that file system is an error naming those it has.\n"
         "  --files-only  files only, no folders\n"
         "  --fs KIND   auto (default: Rock Ridge, else Joliet, else UDF, else ISO 9660), rockridge, joliet,\n"
         "              udf or iso\n"
         "  --track N   the track, as numbered by \"qorvex tracks\"\n"
         "  --system    list the system parts (descriptors, path tables, folders ...) instead of files; with\n"
         "              --fs auto the El Torito boot record, catalogue and images are listed as well\n"
         "  --long      also size, date (UTC), start sector, sectors and extent index/count; for Rock Ridge\n"
         "              mode, owner (uid/gid), size, date (UTC) and \"-> target\" of a link\n"
         "  --json      a JSON array of objects with every field (\"type\": file, folder, link or special;\n"
         "              \"fs\": the file system; \"damaged\": the byte ranges a cut or damaged image lacks)\n"
         "A cut or damaged image lists what its readable structures hold; with --long a damaged entry is marked\n"
         "\"!\" beside the bytes it lacks (MISSING).\n"},
        {"extract",
         cli::RunExtract,
         1,
         -1,
         {"--overwrite", "--boot", "--same-permissions", "--hard-links", "-O", "--stdout", "--keep-damaged"},
         {"-o", "--fs", "--track"},
         "Usage: qorvex extract IMAGE [-o DIR] [--fs auto|rockridge|joliet|udf|iso] [--track N] [--overwrite]\n"
         "                      [--boot] [--same-permissions] [--hard-links] [--keep-damaged] [-O] [PATH ...]\n"
         "Extract all folders and files, or the named image paths (a folder path takes everything below it),\n"
         "into DIR (default: the current folder). Paths match as listed, with or without the \";1\" version\n"
         "suffix, with \"\\\" or \"/\" separators; \"*\" and \"?\" match within a name, \"**\" any number of folders\n"
         "(\"**/*.txt\"); a path that matches nothing exactly matches without regard to case. Files recorded in\n"
         "several extents are joined; empty folders are made. Names that would leave\n"
         "DIR are kept inside it; links, FIFOs and files inside DIR are never followed or written through (one\n"
         "in the way of a target is reported). Names cut by the image's record limit are refused, and folders\n"
         "too deep to be listed are reported; both end with status 1.\n"
         "From Rock Ridge, files and folders get their recorded permissions and times, and symbolic links are\n"
         "made when their target stays inside DIR (an absolute target, or one that climbs out, is refused and\n"
         "reported); devices, FIFOs and sockets are listed, never made; zisofs-compressed files are decoded.\n"
         "  --overwrite         replace existing files (otherwise each is refused and reported)\n"
         "  -O, --stdout        write the files' bytes to standard output, one after the other, in listing order\n"
         "  --same-permissions  keep the set-user-ID, set-group-ID and sticky bits as well (Rock Ridge)\n"
         "  --hard-links        make files with one recorded serial number hard links of one file (Rock Ridge)\n"
         "  --keep-damaged      write a file of a cut or damaged image that lacks data, with zeros for what is\n"
         "                      missing (each is reported; the run ends with status 1); otherwise it is not made\n"
         "  --boot              also write each El Torito boot image into DIR/[BOOT] (\"1-x86-no-emulation.img\",\n"
         "                      ...)\n"},
        {"extract-part",
         cli::RunExtractPart,
         2,
         2,
         {},
         {"-o", "--fs", "--track"},
         "Usage: qorvex extract-part IMAGE NAME -o FILE [--fs auto|rockridge|joliet|udf|iso] [--track N]\n"
         "Write the system part with exactly the name NAME (as \"qorvex ls --system\" lists it) to FILE\n"
         "(\"-\" for standard output). With --fs auto the chosen file system is searched first, then the others.\n"},
        {"verify",
         cli::RunVerify,
         1,
         1,
         {"--json"},
         {"--track"},
         "Usage: qorvex verify IMAGE [--json] [--track N]\n"
         "Check every stored sector of every track (or of track N): sync, header address against the position,\n"
         "mode, EDC and the ECMA-130 P/Q parity of Mode 1 and Mode 2 Form 1 sectors, the EDC of Form 2 sectors\n"
         "that record one, and the subchannel Q CRC of 2448-byte sectors. Prints a summary per track and the\n"
         "damaged sectors as ranges; exit status 0 only when every sector is good. 2048-byte sectors carry\n"
         "nothing to check: they are only read.\n"
         "  --json  one object with a \"tracks\" array\n"},
        {"repair",
         cli::RunRepair,
         1,
         1,
         {},
         {"-o"},
         "Usage: qorvex repair IMAGE -o FILE|FOLDER\n"
         "Write a copy of the image's file to FILE (a new file) in which every sector its P/Q parity can\n"
         "correct is corrected; reports the corrected and the uncorrectable sectors. An image whose tracks lie\n"
         "in several files (a sheet naming one per track) is copied into FILE as a new folder, the sheet with\n"
         "them. IMAGE is never changed, and nothing that exists is written over.\n"
         "Exit status 0 only when no damaged sector is left.\n"},
        {"hash",
         cli::RunHash,
         1,
         1,
         {"--json"},
         {"--dat"},
         "Usage: qorvex hash IMAGE [--dat FILE.dat] [--json]\n"
         "CRC-32, MD5 and SHA-1 of every track as a split image would hold it (one file per track with its\n"
         "stored pregap, 2352 bytes a sector, audio as stored) and of all tracks together, without writing\n"
         "the split. With --dat (Logiqx XML), the entry whose files match every track, or for each track that\n"
         "does not match the nearest entry; exit status 1 when none matches.\n"},
        {"mount",
         cli::RunMount,
         2,
         2,
         {"-f"},
         {"--fs", "--track"},
         "Usage: qorvex mount IMAGE DIR [--fs auto|rockridge|joliet|udf|iso] [--track N] [-f]\n"
         "Mount the image read-only on DIR (FUSE): the chosen file system of the track (default: the first that\n"
         "has one, its file system chosen as by \"ls\") as the tree, every track as DIR/.tracks/NN.iso (user\n"
         "data), NN.bin (raw sectors) or NN.wav (audio), and each file system of the track under\n"
         "DIR/.fs/iso9660, joliet, udf or rockridge. \"qorvex umount DIR\" (or \"fusermount3 -u DIR\") ends it.\n"
         "  -f  stay in the foreground until unmounted\n"},
        {"umount", cli::RunUmount, 1, 1, {}, {}, "Usage: qorvex umount DIR\nUnmount an image mounted on DIR.\n"},
        {"index",
         cli::RunIndex,
         1,
         -1,
         {"--resume", "--dfxml", "--verify"},
         {"--jobs", "--hash", "--out"},
         "Usage: qorvex index PATH... [--jobs N] [--hash sha256|md5|none] [--out FILE.jsonl] [--resume] [--verify]\n"
         "                   [--dfxml]\n"
         "Write an inventory of the images PATH names (folders: every file below them) to FILE (default: standard\n"
         "output), one JSON line per image: its size and modification time, container, tracks, file systems and\n"
         "their files with type, size, date, mode, link target and the hash of each file's bytes (a file kept in\n"
         "several extents is one entry). A cut or damaged image is indexed as far as it can be read: its tracks\n"
         "tell what was salvaged and its files the byte ranges the image lacks (\"damaged\"). An image that\n"
         "cannot be read gets a line with \"error\" (and the engine's \"code\"); the others go on, and the exit\n"
         "status is 1.\n"
         "  --jobs N    images indexed at once (default: the number of processors)\n"
         "  --hash ALG  sha256 (default), md5 or none\n"
         "  --resume    keep FILE's whole lines and index only images not in it with the same size and time\n"
         "  --verify    also read and check every stored sector (sync, header address, EDC) and add the counts;\n"
         "              this reads each image whole, so it is left out by default\n"
         "  --dfxml     write DFXML instead of JSON lines\n"},
    };
    return commands;
}

void PrintProgramHelp(FILE *out) {
    std::fprintf(out,
                 "Usage: qorvex [global options] COMMAND [options] IMAGE ...\n"
                 "List and extract the tracks, files and system parts of CD and DVD disc images\n"
                 "(ISO 9660, Joliet, UDF and Rock Ridge; 2048-, 2324-, 2336-, 2352- and 2448-byte sectors).\n\n"
                 "Commands:\n"
                 "  tracks         list the CD tracks\n"
                 "  extract-track  write one track to a file (user data, raw or WAV)\n"
                 "  info           file systems, labels and sizes of every track\n"
                 "  ls             list files or system parts\n"
                 "  extract        extract files into a folder\n"
                 "  extract-part   write one system part to a file\n"
                 "  verify         check every sector's EDC, ECC, header and subchannel\n"
                 "  repair         write a copy with the sectors parity can correct corrected\n"
                 "  hash           CRC-32, MD5 and SHA-1 of every track; match a DAT\n"
                 "  mount          mount an image read-only as files (FUSE)\n"
                 "  umount         end a mount\n"
                 "  index          inventory of many images as JSON lines\n\n"
                 "%s\n"
                 "\"qorvex COMMAND --help\" describes a command. Exit status: 0 on success, 1 when an operation\n"
                 "failed or a file was refused, 2 for a command-line error.\n",
                 kGlobalHelp);
}

const Command *FindCommand(const std::string &name) {
    for (const auto &c : Commands())
        if (name == c.name) return &c;
    return nullptr;
}

bool Contains(const std::vector<std::string> &list, const std::string &item) {
    for (const auto &s : list)
        if (s == item) return true;
    return false;
}

int Usage(const char *command, const std::string &message) {
    std::fprintf(stderr, "qorvex: %s\n", message.c_str());
    std::fprintf(stderr, "Try \"qorvex %s%s--help\".\n", command ? command : "", command ? " " : "");
    return cli::kExitUsage;
}

}  // namespace

int main(int argc, char **argv) {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);  // extracted bytes and listings as they are, no CR added
#endif
    std::vector<std::string> words(argv + 1, argv + argc);
    Args args;
    const Command *command = nullptr;
    bool help = false;
    bool options_done = false;
    bool extensions = true;

    for (size_t i = 0; i < words.size(); ++i) {
        const std::string &w = words[i];
        if (!options_done && w == "--") {
            options_done = true;
        } else if (!options_done && w.size() > 1 && w[0] == '-') {
            std::string name = w, value;
            bool has_value = false;
            if (size_t eq = w.find('='); w.rfind("--", 0) == 0 && eq != std::string::npos) {
                name = w.substr(0, eq), value = w.substr(eq + 1), has_value = true;
            }
            if (name == "-h" || name == "--help") {
                help = true;
            } else if (name == "--check-edc") {
                args.open_options |= OPEN_CHECK_EDC;
            } else if (name == "--check-position") {
                args.open_options |= OPEN_CHECK_POSITION;
            } else if (name == "--no-extensions") {
                extensions = false;
            } else if (name == "-v" || name == "--verbose") {
                cli::SetVerbose(true);
            } else if (name == "-q" || name == "--quiet") {
                cli::Progress::SetQuiet(true);
            } else if (name == "--version") {
                std::printf("qorvex %s (engine version %d)\n", QORVEX_VERSION_STRING,
                            static_cast<int>(QorvexGetDllVersion()));
                return cli::kExitOk;
            } else if (command && Contains(command->flags, name) && !has_value) {
                args.flags.insert(name);
            } else if (command && Contains(command->values, name)) {
                if (!has_value) {
                    if (i + 1 >= words.size()) return Usage(command->name, "option " + name + " needs a value");
                    value = words[++i];
                }
                args.values[name] = value;
            } else {
                return Usage(command ? command->name : nullptr, "unknown option " + w);
            }
        } else if (!command) {
            if (w == "help") {
                if (i + 1 < words.size() && (command = FindCommand(words[i + 1]))) {
                    std::fputs(command->help, stdout);
                    std::printf("\n%s", kGlobalHelp);
                } else {
                    PrintProgramHelp(stdout);
                }
                return cli::kExitOk;
            }
            command = FindCommand(w);
            if (!command) return Usage(nullptr, "unknown command \"" + w + "\"");
        } else {
            args.positional.push_back(w);
        }
    }

    if (extensions) args.open_options |= OPEN_EXTENSIONS;
    if (help) {
        if (command) {
            std::fputs(command->help, stdout);
            std::printf("\n%s", kGlobalHelp);
        } else {
            PrintProgramHelp(stdout);
        }
        return cli::kExitOk;
    }
    if (!command) {
        PrintProgramHelp(stderr);
        return cli::kExitUsage;
    }
    int n = static_cast<int>(args.positional.size());
    if (n < command->min_positional) return Usage(command->name, "missing argument");
    if (command->max_positional >= 0 && n > command->max_positional)
        return Usage(command->name, "unexpected argument \"" + args.positional[command->max_positional] + "\"");
    return command->run(args);
}
