#include "result.h"

#include "qorvex.h"
#include "string_table.h"

namespace lumast {

ResultMessage MessageForResult(int32_t code) {
    int id = 10055;
    switch (code) {
        case RESULT_FINISHED: id = 10041; break;
        case ENGINE_ABORTED:
        case RESULT_CANCELLED:
        case RESULT_SKIPPED: id = 10042; break;
        case RESULT_NO_ENGINE: id = 10044; break;
        case RESULT_NOT_FOUND: id = 10046; break;
        case RESULT_PART_NOT_FOUND: id = 10047; break;
        case ENGINE_IMAGE_OPEN_FAILED: id = 10048; break;
        case ENGINE_IMAGE_CLOSE_FAILED: id = 10049; break;
        case ENGINE_SEEK_FAILED:
        case ENGINE_NO_CURRENT_ENTRY:
        case ENGINE_BAD_KIND: id = 10050; break;
        case ENGINE_READ_FAILED: id = 10051; break;
        case ENGINE_OUTPUT_OPEN_FAILED: id = 10052; break;
        case ENGINE_OUTPUT_CLOSE_FAILED: id = 10053; break;
        case ENGINE_WRITE_FAILED: id = 10054; break;
        case ENGINE_UNKNOWN_FORMAT:
        case RESULT_BAD_KIND: id = 10056; break;
        case RESULT_REFUSED_EXECUTABLE: id = 10058; break;
        case ENGINE_NO_DATA_TRACK: id = 10059; break;
        case ENGINE_EDC_MISMATCH: id = 10060; break;
        default: break;
    }
    const bool information = id == 10041 || id == 10042;
    return {id, LoadString(id), information ? Beep::Default : Beep::Exclamation,
            information ? BoxIcon::Information : BoxIcon::None};
}

void ReportResult(UiServices &ui, int32_t code, const std::string &details) {
    const ResultMessage m = MessageForResult(code);
    ui.ShowMessage(details.empty() ? std::string(m.text) : std::string(m.text) + "\n\n" + details, m.beep, m.icon);
}

}  // namespace lumast
