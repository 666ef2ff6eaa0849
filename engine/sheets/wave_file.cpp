#include "sheets/wave_file.h"

#include <cstring>

#include "model/byte_view.h"
#include "platform/file.h"

namespace qorvex::sheets {

namespace {
// A WAVE file of CD audio has a few chunks in front of its data; more than this is not a sound file.
constexpr int kMaxChunks = 64;
constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;
}  // namespace

Status ReadWaveWindow(const std::string &path, FileWindow *window) {
    const int64_t length = platform::FindFileLength(path);
    platform::File file;
    if (length < 0 || !file.OpenRead(path)) return Code::kImageOpenFailed;
    uint8_t riff[12];
    if (file.Read(riff, 12) != 12 || std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0)
        return Code::kUnknownFormat;
    bool cd_audio = false;
    int64_t at = 12;
    for (int i = 0; i < kMaxChunks && at + 8 <= length; ++i) {
        uint8_t head[8];
        if (!file.Seek(at) || file.Read(head, 8) != 8) return Code::kReadFailed;
        const ByteView h(head, 8);
        const int64_t size = h.U32le(4);
        if (std::memcmp(head, "fmt ", 4) == 0) {
            uint8_t fmt[16];
            if (size < 16 || file.Read(fmt, 16) != 16) return Code::kUnknownFormat;
            const ByteView f(fmt, 16);
            const uint16_t tag = f.U16le(0);
            cd_audio = (tag == kFormatPcm || tag == kFormatExtensible) && f.U16le(2) == 2 && f.U32le(4) == 44100 &&
                       f.U16le(14) == 16;
        } else if (std::memcmp(head, "data", 4) == 0) {
            if (!cd_audio) return Code::kUnknownFormat;
            window->skip = at + 8;
            // A writer that could not seek back leaves the size open (0 or all ones): the data runs to the end.
            const int64_t rest = length - window->skip;
            window->length = (size == 0 || size == 0xFFFFFFFF || size > rest) ? rest : size;
            return Status::Ok();
        }
        at += 8 + size + (size & 1);  // chunks are padded to even sizes
    }
    return Code::kUnknownFormat;
}

}  // namespace qorvex::sheets
