/* qorvex: CD/DVD disc-image reading engine. Public C interface. */
#ifndef QORVEX_H
#define QORVEX_H

#include <stdint.h>
#ifdef __cplusplus
#include <cstddef>
#else
#include <uchar.h>
#endif

#if defined(_WIN32) && !defined(_WIN64)
#define QORVEX_CALL __stdcall
#else
#define QORVEX_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef void *QorvexHandle;
typedef int32_t(QORVEX_CALL *ProgressCallback)(int32_t kind, void *user, const void *data, int32_t length);

#pragma pack(push, 1)
typedef struct EntryInfo { /* 3108 bytes */
    int32_t kind;
    uint32_t size_low;
    uint32_t size_high;
    int32_t start;
    int32_t sectors;
    int32_t offset;
    uint16_t extent_count;
    uint16_t extent_index;
    int32_t attributes;
    int32_t time;
    char name[1024];      /* offset 36 */
    char16_t wname[1024]; /* offset 1060: UTF-16 on every platform, never wchar_t */
} EntryInfo;

typedef struct TrackInfo { /* 38 bytes */
    int32_t format;
    int32_t first_held;
    int32_t start;
    int32_t end_held;
    int32_t user_size;
    uint8_t session;
    uint8_t track;
    uint8_t reserved1[4];
    int32_t reserved2[3];
} TrackInfo;
#pragma pack(pop)

/* Open options. */
#define OPEN_CHECK_EDC 0x00000001u
#define OPEN_CHECK_POSITION 0x80000000u
/* Extended formats, each behind its own bit; with none of them set the engine reads exactly the formats above. */
#define OPEN_DISC_SHEETS 0x00000100u /* cue / toc / ccd sheets, multi-track and multi-session discs */
#define OPEN_ROCK_RIDGE 0x00000200u  /* Rock Ridge catalogue, kind KIND_ROCKRIDGE */
#define OPEN_BOOT_IMAGES 0x00000400u /* El Torito catalogue and boot images among the ISO 9660 system parts */
#define OPEN_UDF_2X 0x00000800u      /* UDF 2.x: extended file entries, VAT, sparable and metadata partitions */
#define OPEN_SALVAGE 0x00001000u     /* cut-short and damaged images opened; damaged entries marked */
#define OPEN_EXTENSIONS 0x00001F00u

/* Track extraction flags. */
#define TRACK_RAW 0x20000u
#define TRACK_WAV 0x40000u
#define TRACK_PREGAP 0x80000u

/* File-system kinds. */
#define KIND_AUTO 0
#define KIND_ISO9660 1
#define KIND_JOLIET 2
#define KIND_UDF 4
#define KIND_ROCKRIDGE 8

/* Progress callback block kind. */
#define CALLBACK_DATA 1

/* Result codes. */
#define ENGINE_OK 0
#define ENGINE_ABORTED 0x8100
#define ENGINE_IMAGE_OPEN_FAILED 0x8101
#define ENGINE_IMAGE_CLOSE_FAILED 0x8102
#define ENGINE_SEEK_FAILED 0x8103
#define ENGINE_READ_FAILED 0x8104
#define ENGINE_OUTPUT_OPEN_FAILED 0x8111
#define ENGINE_OUTPUT_CLOSE_FAILED 0x8112
#define ENGINE_WRITE_FAILED 0x8115
#define ENGINE_NO_CURRENT_ENTRY 0x8121
#define ENGINE_BAD_KIND 0x8122
#define ENGINE_UNKNOWN_FORMAT 0x8123
#define ENGINE_EDC_MISMATCH 0x8124
#define ENGINE_NO_DATA_TRACK 0x8125
#define ENGINE_BAD_TRACK 0x8126

int32_t QORVEX_CALL Qorvex(int32_t a, int32_t b);
QorvexHandle QORVEX_CALL QorvexOpen(const char *path, uint32_t options, int32_t *error);
int32_t QORVEX_CALL QorvexClose(QorvexHandle h);
int32_t QORVEX_CALL QorvexSetCallback(QorvexHandle h, ProgressCallback cb, void *user);
int32_t QORVEX_CALL QorvexGetFileCount(QorvexHandle h, int32_t track, int32_t kind);
int32_t QORVEX_CALL QorvexGetFileStart(QorvexHandle h, int32_t track, int32_t kind);
int32_t QORVEX_CALL QorvexGetNextFile(QorvexHandle h, EntryInfo *record);
int32_t QORVEX_CALL QorvexExtractCurrentFile(QorvexHandle h, const char *path);
int32_t QORVEX_CALL QorvexExtractCurrentFile2(QorvexHandle h, const char *path, int32_t single);
int32_t QORVEX_CALL QorvexGetDllVersion(void);
int32_t QORVEX_CALL QorvexGetImageInformation(QorvexHandle h, int32_t track, int32_t kind, char *label,
                                              int32_t *sectors, int64_t *bytes);
int32_t QORVEX_CALL QorvexGetModuleStart(QorvexHandle h, int32_t track, int32_t kind);
int32_t QORVEX_CALL QorvexGetNextModule(QorvexHandle h, EntryInfo *record);
int32_t QORVEX_CALL QorvexExtractCurrentModule(QorvexHandle h, const char *path);
int32_t QORVEX_CALL QorvexGetTrackCount(QorvexHandle h);
int32_t QORVEX_CALL QorvexGetTrackInfo(QorvexHandle h, int32_t track, TrackInfo *info);
int32_t QORVEX_CALL QorvexExtractTrack(QorvexHandle h, int32_t track, const char *path, uint32_t flags);

#ifdef __cplusplus
} /* extern "C" */

static_assert(sizeof(EntryInfo) == 3108, "EntryInfo is 3108 bytes");
static_assert(offsetof(EntryInfo, size_low) == 4 && offsetof(EntryInfo, start) == 12, "EntryInfo layout");
static_assert(offsetof(EntryInfo, extent_count) == 24 && offsetof(EntryInfo, attributes) == 28, "EntryInfo layout");
static_assert(offsetof(EntryInfo, time) == 32 && offsetof(EntryInfo, name) == 36, "EntryInfo layout");
static_assert(offsetof(EntryInfo, wname) == 1060, "EntryInfo layout");
static_assert(sizeof(TrackInfo) == 38, "TrackInfo is 38 bytes");
static_assert(offsetof(TrackInfo, user_size) == 16 && offsetof(TrackInfo, session) == 20, "TrackInfo layout");
static_assert(offsetof(TrackInfo, track) == 21 && offsetof(TrackInfo, reserved1) == 22, "TrackInfo layout");
static_assert(offsetof(TrackInfo, reserved2) == 26, "TrackInfo layout");
#else
_Static_assert(sizeof(EntryInfo) == 3108, "EntryInfo is 3108 bytes");
_Static_assert(sizeof(TrackInfo) == 38, "TrackInfo is 38 bytes");
#endif

#endif /* QORVEX_H */
