#include "sheets/disc_sheet.h"

#include <algorithm>

#include "containers/chd_source.h"
#include "containers/ecm_source.h"
#include "containers/isz_source.h"
#include "platform/file.h"
#include "image/sector_format.h"
#include "qorvex.h"
#include "sheets/ccd_sheet.h"
#include "sheets/cdi_sheet.h"
#include "sheets/cue_sheet.h"
#include "sheets/mds_sheet.h"
#include "sheets/nrg_sheet.h"
#include "sheets/sheet_text.h"
#include "sheets/toc_sheet.h"

namespace qorvex::sheets {

namespace {
// A sheet is a page of text; a larger file named like one is something else.
constexpr int64_t kMaxSheetBytes = 1 << 20;

std::string Extension(const std::string &path) {
    const size_t slash = platform::LastSeparator(path);
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return Upper(path.substr(dot + 1));
}

Status ReadText(const std::string &path, std::string *text, int64_t most) {
    const int64_t length = platform::FindFileLength(path);
    if (length < 0) return Code::kImageOpenFailed;
    if (length > most) return Code::kUnknownFormat;
    platform::File file;
    text->resize(static_cast<size_t>(length));
    if (!file.OpenRead(path) || file.Read(text->data(), length) != length) return Code::kImageOpenFailed;
    return Status::Ok();
}

// The sheet beside an image file of the same name (x.cue, x.toc, x.ccd or x.mds for x.bin, x.img or x.mdf);
// empty when none.
std::string SheetBeside(const std::string &path) {
    const size_t slash = platform::LastSeparator(path);
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    for (const char *extension : {".cue", ".CUE", ".toc", ".TOC", ".ccd", ".CCD", ".mds", ".MDS"}) {
        const std::string sheet = path.substr(0, dot) + extension;
        if (platform::FindFileLength(sheet) >= 0) return sheet;
    }
    return {};
}

Status Adopt(const std::string &path, SheetDisc disc, ImageCatalogue *catalogue, uint32_t options) {
    std::vector<TrackRecord> tracks;
    std::vector<TrackDetails> details;
    // A file shorter than its sheet records opens only to be salvaged.
    if (disc.details.short_bytes > 0 && !(options & OPEN_SALVAGE)) return Code::kUnknownFormat;
    Status laid = LayOut(disc, &tracks, &details);
    if (laid.Failed() && (options & OPEN_SALVAGE)) {
        // Files shorter than the sheet says: the tracks that hold no sector from their index 1 on are left out
        // (and counted).
        int64_t total = 0;
        for (const SheetFile &f : disc.files) total += std::max<int64_t>(f.window.length, 0);
        for (size_t k = 0; k < disc.tracks.size() && disc.tracks.size() > 1;) {
            const int64_t end = k + 1 < disc.tracks.size() ? disc.tracks[k + 1].begin : total;
            if (disc.tracks[k].index1 < end) {
                ++k;
                continue;
            }
            disc.tracks.erase(disc.tracks.begin() + static_cast<std::ptrdiff_t>(k));
            ++disc.details.tracks_cut;
        }
        if (disc.details.tracks_cut > 0) laid = LayOut(disc, &tracks, &details);
    }
    QORVEX_TRY(laid);
    if (!catalogue->Adopt(path, std::move(tracks), std::move(details), disc.details)) return Code::kUnknownFormat;
    return Status::Ok();
}

// A CHD: a CD's tracks as its metadata lays them out in the decoded stream, or a DVD's or raw image's bytes.
Status OpenChd(const std::string &path, ImageCatalogue *catalogue, uint32_t options) {
    containers::ChdImage image;
    QORVEX_TRY(containers::OpenChd(path, &image));
    if (image.tracks.empty()) {
        DiscDetails disc;
        disc.sheet = "chd";
        if (!catalogue->ProbeSource(path, std::move(image.source), std::move(disc))) return Code::kUnknownFormat;
        return Status::Ok();
    }
    SheetDisc disc;
    disc.details.sheet = "chd";
    const size_t slash = platform::LastSeparator(path);
    SheetFile file;
    file.path = path;
    file.named = path.substr(slash == std::string::npos ? 0 : slash + 1);
    file.window = FileWindow{0, image.source->Length()};
    file.source = image.source;
    disc.files.push_back(std::move(file));
    for (const containers::ChdTrack &t : image.tracks) {
        SheetTrack track;
        track.number = t.number;
        track.format = t.format;
        if (t.probe_mode2)
            track.probe = GetSectorFormat(t.format).stored == 2352 ? ModeProbe::kMode2Raw : ModeProbe::kMode2_2336;
        track.begin = t.begin;
        track.index1 = t.begin + (t.pregap_stored ? int64_t(t.pregap) * t.sector_bytes : 0);
        track.has_index0 = t.pregap > 0;
        track.absent_pregap = t.pregap_stored ? 0 : t.pregap;
        track.absent_trailing = t.postgap + t.pad;
        disc.tracks.push_back(std::move(track));
    }
    return Adopt(path, std::move(disc), catalogue, options);
}

// A container whose decoded stream is a plain image, named by its extension.
Status OpenContainer(const std::string &path, const std::string &extension, ImageCatalogue *catalogue) {
    std::shared_ptr<StoredSource> source;
    DiscDetails disc;
    if (extension == "ECM") {
        QORVEX_TRY(containers::OpenEcm(path, &source));
        disc.sheet = "ecm";
    } else if (extension == "ISZ") {
        QORVEX_TRY(containers::OpenIsz(path, &source));
        disc.sheet = "isz";
    } else {
        return Code::kUnknownFormat;
    }
    if (!catalogue->ProbeSource(path, std::move(source), std::move(disc))) return Code::kUnknownFormat;
    return Status::Ok();
}
}  // namespace

Status ProbeImage(const std::string &path, uint32_t options, ImageCatalogue *catalogue) {
    const std::string extension = Extension(path);
    const bool sheets = (options & OPEN_DISC_SHEETS) != 0;
    // Nero and DiscJuggler images are their own sheets: their descriptors describe the disc better than the
    // plain probe of its sectors.
    Status own = Code::kUnknownFormat;
    if (sheets && (extension == "NRG" || extension == "CDI")) {
        SheetDisc disc;
        own = extension == "NRG" ? ReadNrgImage(path, &disc) : ReadCdiImage(path, &disc);
        if (!own.Failed()) own = Adopt(path, disc, catalogue, options);
        if (!own.Failed()) return own;
    }
    if (catalogue->Probe(path, options)) return Status::Ok();
    if (extension == "NRG" || extension == "CDI") return own;
    if (sheets && (extension == "ECM" || extension == "ISZ")) return OpenContainer(path, extension, catalogue);
    if (sheets && extension == "CHD") return OpenChd(path, catalogue, options);
    if (!sheets) return Code::kUnknownFormat;
    // An image file the plain probe refuses (audio, several tracks) opened without its sheet: the sheet beside it.
    if (extension != "CUE" && extension != "TOC" && extension != "CCD" && extension != "MDS") {
        const std::string sheet = SheetBeside(path);
        return sheet.empty() ? Status(Code::kUnknownFormat) : ProbeImage(sheet, options, catalogue);
    }
    std::string text;
    QORVEX_TRY(ReadText(path, &text, extension == "MDS" ? kMaxMdsBytes : kMaxSheetBytes));
    const size_t slash = platform::LastSeparator(path);
    const SheetFolder folder(slash == std::string::npos ? std::string() : path.substr(0, slash + 1));
    const std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
    SheetDisc disc;
    if (extension == "MDS") {
        const ByteView bytes(reinterpret_cast<const uint8_t *>(text.data()), text.size());
        QORVEX_TRY(ReadMdsDescriptor(bytes, name, folder, &disc));
    } else if (extension == "CUE") {
        QORVEX_TRY(ReadCueSheet(text, folder, &disc));
    } else if (extension == "TOC") {
        QORVEX_TRY(ReadTocSheet(text, folder, &disc));
    } else {
        // CloneCD's image is the control file's name with .img.
        QORVEX_TRY(ReadCcdSheet(text, name.substr(0, name.size() - 3) + "img", folder, &disc));
    }
    return Adopt(path, disc, catalogue, options);
}

}  // namespace qorvex::sheets
