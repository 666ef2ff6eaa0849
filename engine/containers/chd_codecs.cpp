#include "containers/chd_codecs.h"

#include <zlib.h>

#ifdef QORVEX_HAVE_CHD_CODECS
#include <FLAC/stream_decoder.h>
#include <lzma.h>
#include <zstd.h>
#endif

#include <algorithm>
#include <cstring>

#include "containers/chd_huffman.h"
#include "image/sector_ecc.h"

namespace qorvex::containers::chd {

namespace {
constexpr uint8_t kSync[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
// The FLAC frames of a hunk come without a stream header: one is put in front, saying 44.1 kHz 16-bit stereo.
constexpr size_t kFlacHeaderBytes = 42;

// FLAC block sizes the writer picks: a quarter of the bytes in samples, halved down to 2048 (general) or to
// a sector's worth (CD).
uint32_t FlacBlock(uint32_t bytes, uint32_t limit) {
    uint32_t block = bytes / 4;
    while (block > limit) block /= 2;
    return block;
}

#ifdef QORVEX_HAVE_CHD_CODECS
struct FlacJob {
    uint8_t header[kFlacHeaderBytes] = {};
    const uint8_t *data = nullptr;
    size_t size = 0;
    size_t position = 0;  // in the header, then the data
    uint8_t *out = nullptr;
    size_t samples = 0, wanted = 0;
    bool big_endian = true;
    bool failed = false;
};

FLAC__StreamDecoderReadStatus FlacRead(const FLAC__StreamDecoder *, FLAC__byte buffer[], size_t *bytes, void *job_) {
    auto *job = static_cast<FlacJob *>(job_);
    size_t given = 0;
    while (given < *bytes && job->position < kFlacHeaderBytes + job->size) {
        const bool head = job->position < kFlacHeaderBytes;
        const uint8_t *from = head ? job->header + job->position : job->data + (job->position - kFlacHeaderBytes);
        const size_t left = head ? kFlacHeaderBytes - job->position : kFlacHeaderBytes + job->size - job->position;
        const size_t take = std::min(left, *bytes - given);
        std::memcpy(buffer + given, from, take);
        given += take;
        job->position += take;
    }
    *bytes = given;
    return given == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
}

FLAC__StreamDecoderTellStatus FlacTell(const FLAC__StreamDecoder *, FLAC__uint64 *at, void *job_) {
    *at = static_cast<FlacJob *>(job_)->position;
    return FLAC__STREAM_DECODER_TELL_STATUS_OK;
}

FLAC__StreamDecoderWriteStatus FlacWrite(const FLAC__StreamDecoder *, const FLAC__Frame *frame,
                                         const FLAC__int32 *const buffer[], void *job_) {
    auto *job = static_cast<FlacJob *>(job_);
    const uint32_t count = frame->header.blocksize;
    if (frame->header.channels != 2 || frame->header.bits_per_sample != 16 || count > job->wanted - job->samples) {
        job->failed = true;
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    uint8_t *out = job->out + job->samples * 4;
    for (uint32_t i = 0; i < count; ++i)
        for (int c = 0; c < 2; ++c, out += 2) {
            const auto sample = static_cast<uint16_t>(buffer[c][i]);
            out[job->big_endian ? 0 : 1] = static_cast<uint8_t>(sample >> 8);
            out[job->big_endian ? 1 : 0] = static_cast<uint8_t>(sample);
        }
    job->samples += count;
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void FlacError(const FLAC__StreamDecoder *, FLAC__StreamDecoderErrorStatus, void *job_) {
    static_cast<FlacJob *>(job_)->failed = true;
}
#endif
}  // namespace

Codec CodecOf(uint32_t fourcc) {
    struct Name {
        uint32_t fourcc;
        Codec codec;
    };
    static constexpr Name kNames[] = {
        {0, Codec::kNone},
        {FourCc("zlib"), Codec::kZlib},
        {FourCc("lzma"), Codec::kLzma},
        {FourCc("huff"), Codec::kHuff},
        {FourCc("flac"), Codec::kFlac},
        {FourCc("zstd"), Codec::kZstd},
        {FourCc("cdzl"), Codec::kCdZlib},
        {FourCc("cdlz"), Codec::kCdLzma},
        {FourCc("cdfl"), Codec::kCdFlac},
        {FourCc("cdzs"), Codec::kCdZstd},
    };
    for (const Name &n : kNames)
        if (n.fourcc == fourcc) return n.codec;
    return Codec::kUnknown;
}

struct HunkDecoder::State {
    z_stream zlib{};
    bool zlib_ready = false;
#ifdef QORVEX_HAVE_CHD_CODECS
    lzma_stream lzma = LZMA_STREAM_INIT;
    ZSTD_DCtx *zstd = nullptr;
    FLAC__StreamDecoder *flac = nullptr;
#endif

    ~State() {
        if (zlib_ready) inflateEnd(&zlib);
#ifdef QORVEX_HAVE_CHD_CODECS
        lzma_end(&lzma);
        ZSTD_freeDCtx(zstd);
        if (flac) FLAC__stream_decoder_delete(flac);
#endif
    }
};

HunkDecoder::HunkDecoder(uint32_t hunk_bytes) : hunk_bytes_(hunk_bytes), state_(std::make_unique<State>()) {}
HunkDecoder::~HunkDecoder() = default;

bool HunkDecoder::Inflate(const uint8_t *in, size_t size, uint8_t *out, size_t out_size) {
    z_stream &z = state_->zlib;
    if (!state_->zlib_ready) {
        if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
        state_->zlib_ready = true;
    } else if (inflateReset(&z) != Z_OK) {
        return false;
    }
    z.next_in = const_cast<Bytef *>(in);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = out;
    z.avail_out = static_cast<uInt>(out_size);
    const int result = inflate(&z, Z_FINISH);
    // The writer ends each stream; one that fills the hunk without ending is taken as it is.
    return (result == Z_STREAM_END || result == Z_BUF_ERROR || result == Z_OK) && z.avail_out == 0;
}

#ifdef QORVEX_HAVE_CHD_CODECS
bool HunkDecoder::Lzma(const uint8_t *in, size_t size, uint8_t *out, size_t out_size) {
    // The writer's properties: lc 3, lp 0, pb 2; no end mark, the hunk's size ends the stream. The dictionary
    // needs no more than the hunk.
    lzma_options_lzma options{};
    if (lzma_lzma_preset(&options, 0)) return false;
    options.lc = 3;
    options.lp = 0;
    options.pb = 2;
    options.dict_size = std::max<uint32_t>(hunk_bytes_, LZMA_DICT_SIZE_MIN);
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream &s = state_->lzma;
    if (lzma_raw_decoder(&s, filters) != LZMA_OK) return false;
    s.next_in = in;
    s.avail_in = size;
    s.next_out = out;
    s.avail_out = out_size;
    const lzma_ret result = lzma_code(&s, LZMA_RUN);
    return (result == LZMA_OK || result == LZMA_STREAM_END) && s.avail_out == 0;
}

bool HunkDecoder::Zstd(const uint8_t *in, size_t size, uint8_t *out, size_t out_size) {
    if (!state_->zstd && !(state_->zstd = ZSTD_createDCtx())) return false;
    const size_t made = ZSTD_decompressDCtx(state_->zstd, out, out_size, in, size);
    return !ZSTD_isError(made) && made == out_size;
}

bool HunkDecoder::Flac(const uint8_t *in, size_t size, uint8_t *out, size_t out_size, uint32_t block,
                       bool big_endian, size_t *used) {
    if (block < 16 || out_size % 4 != 0) return false;
    if (!state_->flac && !(state_->flac = FLAC__stream_decoder_new())) return false;
    FlacJob job;
    static constexpr uint8_t kHeader[kFlacHeaderBytes] = {
        'f', 'L', 'a', 'C', 0x80, 0x00, 0x00, 0x22,  // the stream mark; STREAMINFO, the last block, 34 bytes
        0, 0, 0, 0,                                  // block sizes (below)
        0, 0, 0, 0, 0, 0,                            // frame sizes: unknown
        0x0A, 0xC4, 0x42, 0xF0, 0, 0, 0, 0,          // 44100 Hz, 2 channels, 16 bits, length unknown
    };
    std::memcpy(job.header, kHeader, sizeof kHeader);
    const uint32_t stated = block;
    job.header[8] = job.header[10] = static_cast<uint8_t>(stated >> 8);
    job.header[9] = job.header[11] = static_cast<uint8_t>(stated);
    job.data = in;
    job.size = size;
    job.out = out;
    job.wanted = out_size / 4;
    job.big_endian = big_endian;
    FLAC__StreamDecoder *decoder = state_->flac;
    if (FLAC__stream_decoder_init_stream(decoder, FlacRead, nullptr, FlacTell, nullptr, nullptr, FlacWrite, nullptr,
                                         FlacError, &job) != FLAC__STREAM_DECODER_INIT_STATUS_OK)
        return false;
    bool ok = FLAC__stream_decoder_process_until_end_of_metadata(decoder);
    while (ok && !job.failed && job.samples < job.wanted) {
        if (!FLAC__stream_decoder_process_single(decoder) ||
            FLAC__stream_decoder_get_state(decoder) >= FLAC__STREAM_DECODER_END_OF_STREAM)
            ok = false;
    }
    FLAC__uint64 position = 0;
    ok = ok && !job.failed && job.samples == job.wanted &&
         FLAC__stream_decoder_get_decode_position(decoder, &position) && position >= kFlacHeaderBytes &&
         position - kFlacHeaderBytes <= size;
    if (ok && used) *used = static_cast<size_t>(position - kFlacHeaderBytes);
    FLAC__stream_decoder_finish(decoder);
    return ok;
}

#else
bool HunkDecoder::Lzma(const uint8_t *, size_t, uint8_t *, size_t) { return false; }
bool HunkDecoder::Zstd(const uint8_t *, size_t, uint8_t *, size_t) { return false; }
bool HunkDecoder::Flac(const uint8_t *, size_t, uint8_t *, size_t, uint32_t, bool, size_t *) { return false; }
#endif

bool HunkDecoder::Huff(const uint8_t *in, size_t size, uint8_t *out, size_t out_size) {
    BitReader bits(in, size);
    HuffmanDecoder decoder(256, 16);
    if (!decoder.ImportHuffman(bits)) return false;
    for (size_t i = 0; i < out_size; ++i) out[i] = static_cast<uint8_t>(decoder.Decode(bits));
    return !bits.Overrun();
}

bool HunkDecoder::CdFrames(Codec codec, const uint8_t *in, size_t size, uint8_t *out) {
    const uint32_t frames = hunk_bytes_ / kFrameBytes;
    const size_t sectors_size = size_t(frames) * kSectorBytes, subcode_size = size_t(frames) * kSubcodeBytes;
    split_.resize(sectors_size + subcode_size);
    uint8_t *sectors = split_.data(), *subcode = split_.data() + sectors_size;
    // cdfl: FLAC of the sectors as samples, then deflate of the subcode; no ECC flags.
    size_t ecc_bytes = 0;
    if (codec == Codec::kCdFlac) {
        size_t used = 0;
        if (!Flac(in, size, sectors, sectors_size, FlacBlock(uint32_t(sectors_size), kSectorBytes), true, &used) ||
            !Inflate(in + used, size - used, subcode, subcode_size))
            return false;
    } else {
        // One bit per frame for sectors whose sync and ECC were left out, then the length of the sectors'
        // stream (2 bytes, 3 for hunks of 64 KiB and more), the sectors' stream and the subcode's.
        ecc_bytes = (frames + 7) / 8;
        const size_t length_bytes = hunk_bytes_ < 65536 ? 2 : 3;
        const size_t head = ecc_bytes + length_bytes;
        if (size < head) return false;
        size_t base = 0;
        for (size_t i = 0; i < length_bytes; ++i) base = base << 8 | in[ecc_bytes + i];
        if (base > size - head) return false;
        const uint8_t *rest = in + head + base;
        const size_t rest_size = size - head - base;
        bool ok = false;
        if (codec == Codec::kCdZlib)
            ok = Inflate(in + head, base, sectors, sectors_size) && Inflate(rest, rest_size, subcode, subcode_size);
        else if (codec == Codec::kCdLzma)
            ok = Lzma(in + head, base, sectors, sectors_size) && Inflate(rest, rest_size, subcode, subcode_size);
        else
            ok = Zstd(in + head, base, sectors, sectors_size) && Zstd(rest, rest_size, subcode, subcode_size);
        if (!ok) return false;
    }
    for (uint32_t f = 0; f < frames; ++f) {
        uint8_t *frame = out + size_t(f) * kFrameBytes;
        std::memcpy(frame, sectors + size_t(f) * kSectorBytes, kSectorBytes);
        std::memcpy(frame + kSectorBytes, subcode + size_t(f) * kSubcodeBytes, kSubcodeBytes);
        if (ecc_bytes != 0 && (in[f / 8] >> (f % 8)) & 1) {
            std::memcpy(frame, kSync, sizeof kSync);
            WriteSectorEcc(frame, frame[15] == 2);
        }
    }
    return true;
}

bool HunkDecoder::Decode(Codec codec, const uint8_t *in, size_t size, uint8_t *out) {
    switch (codec) {
        case Codec::kZlib: return Inflate(in, size, out, hunk_bytes_);
        case Codec::kLzma: return Lzma(in, size, out, hunk_bytes_);
        case Codec::kZstd: return Zstd(in, size, out, hunk_bytes_);
        case Codec::kHuff: return Huff(in, size, out, hunk_bytes_);
        case Codec::kFlac:
            // The first byte names the samples' byte order.
            if (size < 1 || (in[0] != 'L' && in[0] != 'B')) return false;
            return Flac(in + 1, size - 1, out, hunk_bytes_, FlacBlock(hunk_bytes_, 2048), in[0] == 'B', nullptr);
        case Codec::kCdZlib:
        case Codec::kCdLzma:
        case Codec::kCdFlac:
        case Codec::kCdZstd:
            return hunk_bytes_ % kFrameBytes == 0 && CdFrames(codec, in, size, out);
        default: return false;
    }
}

}  // namespace qorvex::containers::chd
