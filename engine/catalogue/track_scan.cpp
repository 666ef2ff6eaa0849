#include "catalogue/track_scan.h"

#include "eltorito/boot_reader.h"
#include "iso9660/iso_reader.h"
#include "rockridge/rockridge_reader.h"
#include "udf/udf_reader.h"

namespace qorvex {

const FsListing *TrackCatalogues::Get(int32_t kind) const {
    switch (kind) {
        case KIND_ISO9660: return &iso;
        case KIND_JOLIET: return &joliet;
        case KIND_UDF: return &udf;
        case KIND_ROCKRIDGE: return &rockridge;
        default: return nullptr;
    }
}

Status ScanTrack(const TrackRecord &record, const Limits &given, TrackCatalogues &catalogues,
                 SectorReader &volume_reader, bool keep_bare) {
    TrackCatalogues found;
    Limits limits = given;
    if (limits.Has(OPEN_SALVAGE)) limits.salvage = &found.salvage;
    SectorReader reader;
    if (!reader.SetUp(record, limits.options & OPEN_CHECK_POSITION)) return Code::kImageOpenFailed;
    reader.SetEdcCheck(limits.Has(OPEN_CHECK_EDC));
    if (!reader.IsDataTrack()) {  // nothing to look for on an audio track
        volume_reader.CopyFrom(reader);
        return Status::Ok();
    }
    if (!reader.Open()) return Code::kImageOpenFailed;

    // A code left by a reader counts only when no file system is found; the last one left wins.
    Status last = iso9660::ReadIso(reader, limits, &found.iso, &found.joliet);
    // Boot parts join a found ISO 9660 listing, read while the reader still has its block size.
    if (limits.Has(OPEN_BOOT_IMAGES) && found.iso.found)
        if (const Status boot = eltorito::ReadBootParts(reader, limits, found.iso); boot.Failed()) last = boot;
    // Rock Ridge adds to the ISO 9660 hierarchy it lies in: a failure of its own leaves the track as it was.
    if (limits.Has(OPEN_ROCK_RIDGE) && found.iso.found)
        (void)rockridge::ReadRockRidge(reader, limits, &found.rockridge);
    if (const Status udf = udf::ReadUdf(reader, limits, &found.udf); udf.Failed()) last = udf;
    const bool any = found.iso.found || found.joliet.found || found.udf.found;
    if (!any && last.IsOk()) last = Code::kUnknownFormat;
    if (!reader.Close() && last.IsOk()) last = Code::kImageCloseFailed;
    if (limits.budget && limits.budget->Exhausted()) return Code::kTooLarge;
    if (!any && !(keep_bare && last.GetCode() != Code::kImageCloseFailed)) return last;
    if (!any) {
        // The readers may have set a block size; a bare track reads with the format's own.
        SectorReader bare;
        if (!bare.SetUp(record, limits.options & OPEN_CHECK_POSITION)) return Code::kImageOpenFailed;
        bare.SetEdcCheck(limits.Has(OPEN_CHECK_EDC));
        volume_reader.CopyFrom(bare);
        catalogues.salvage = std::move(found.salvage);
        return Status::Ok();
    }

    catalogues = std::move(found);
    volume_reader.CopyFrom(reader);
    return Status::Ok();
}

}  // namespace qorvex
