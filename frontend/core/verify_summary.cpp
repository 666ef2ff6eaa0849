#include "verify_summary.h"

#include "disc_text.h"
#include "engine_binding.h"
#include "string_table.h"
#include "text_format.h"

namespace lumast {

std::string VerifySummary(const host::DiscScan &scan) {
    std::string text;
    for (const host::TrackScan &t : scan.tracks) {
        text +=
            Format(LoadString(IDS_VERIFY_TRACK), t.info.track, host::FormatName(t.info.format),
                   GroupedNumber(t.sectors).c_str(), GroupedNumber(t.good).c_str(), GroupedNumber(t.edc).c_str(),
                   GroupedNumber(t.ecc).c_str(), GroupedNumber(t.correctable).c_str(), GroupedNumber(t.address).c_str(),
                   GroupedNumber(t.subchannel).c_str(), GroupedNumber(t.unreadable).c_str()) +
            "\n";
        if (!t.checked && t.sectors > 0) text += std::string(LoadString(IDS_VERIFY_UNCHECKED)) + "\n";
        // The first ranges only: a message box is no place for thousands of lines.
        for (size_t i = 0; i < t.damaged.size() && i < 20; ++i) {
            const host::DamagedRange &r = t.damaged[i];
            const std::string where =
                r.first == r.last ? std::to_string(r.first) : std::to_string(r.first) + "-" + std::to_string(r.last);
            const std::string what =
                r.unreadable ? LoadString(IDS_VERIFY_MISSING)
                             : host::FaultNames(r.faults) + (r.correctable ? LoadString(IDS_VERIFY_CORRECTABLE) : "");
            text += Format(LoadString(IDS_VERIFY_DAMAGED), where.c_str(), what.c_str()) + "\n";
        }
        if (t.damaged.size() > 20) text += "  ...\n";
    }
    if (scan.stopped) return text + LoadString(IDS_VERIFY_STOPPED);
    return text + LoadString(scan.Good() ? IDS_VERIFY_GOOD : IDS_VERIFY_BAD);
}

std::string RunVerify(UiServices &ui, const std::string &library, const std::string &image, uint32_t options) {
    EngineBinding binding;
    if (!binding.Load(library)) return {};
    const EngineTable &e = binding.Table();
    if (!e.ExGetRawSectorSize || !e.ExReadRawSectors) return {};
    int32_t error = 0;
    QorvexHandle handle = e.Open(image.c_str(), options, &error);
    if (!handle) return {};
    host::RawAccess access{handle, e.GetTrackCount, e.GetTrackInfo, e.ExGetRawSectorSize, e.ExReadRawSectors};
    host::DiscScan scan;
    ui.RunOperation([&] {
        host::ScanOptions scan_options;
        uint64_t reported = 0;
        bool begun = false;
        scan_options.progress = [&](int64_t done, int64_t total) {
            // In sectors: the dialog's bars count what they are given.
            if (!begun)
                ui.ProgressBeginFile(Format(LoadString(IDS_VERIFY_PROGRESS), image.c_str()),
                                     static_cast<uint64_t>(total), static_cast<uint64_t>(total));
            begun = true;
            const int stop = ui.ProgressAdvance(static_cast<uint64_t>(done) - reported);
            reported = static_cast<uint64_t>(done);
            return stop == 0;
        };
        scan = host::ScanDisc(access, scan_options);
        ui.ProgressClose();
    });
    e.Close(handle);
    const std::string summary = VerifySummary(scan);
    ui.ShowMessage(summary, scan.Good() ? Beep::Default : Beep::Exclamation, BoxIcon::Information);
    return summary;
}

}  // namespace lumast
