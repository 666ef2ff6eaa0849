/* Checks qorvex.dll through its public header, as a Windows program written for it would use it: run under
 * Wine by scripts/windows on images made there by genisoimage (the names in the system code page and in UTF-16
 * are checked by the engine's test program). It opens one image, walks its files, extracts each one through the
 * DLL's path export with the (__stdcall on 32-bit Windows) progress callback, and finds the contents the script
 * put in the image, each once, with the recorded date on the written file.
 *
 *   engine_check IMAGE KIND OUTPUT_FOLDER
 *
 * KIND is 2 (Joliet) or 4 (UDF). Exit status 0 when every check holds. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "qorvex.h"

static int failures = 0;

#define CHECK(condition, ...)                                    \
    do {                                                         \
        if (!(condition)) {                                      \
            fprintf(stderr, "FAIL %s:%d: ", __FILE__, __LINE__); \
            fprintf(stderr, __VA_ARGS__);                        \
            fputc('\n', stderr);                                 \
            ++failures;                                          \
        }                                                        \
    } while (0)

/* The contents of the files scripts/windows puts in every image. */
static const char *const kContents[] = {"plain ASCII name\n", "Japanese name\n", "trail byte 0x5C\n",
                                        "names ending in 0x5C\n"};
#define kFileCount (sizeof kContents / sizeof kContents[0])

/* Bytes the progress callback saw; the callback is __stdcall on 32-bit Windows like every export. */
static int64_t delivered = 0;

static int32_t QORVEX_CALL Count(int32_t kind, void *user, const void *data, int32_t length) {
    (void)data;
    if (kind == CALLBACK_DATA && length > 0) *(int64_t *)user += length;
    return 1;
}

static char *ReadWhole(const char *path, long *length) {
    FILE *f = fopen(path, "rb");
    if (!f) return NULL;
    fseek(f, 0, SEEK_END);
    *length = ftell(f);
    fseek(f, 0, SEEK_SET);
    char *bytes = malloc((size_t)*length + 1);
    if (bytes && fread(bytes, 1, (size_t)*length, f) != (size_t)*length) *length = -1;
    fclose(f);
    return bytes;
}

/* The modification time of a file as seconds since 1970. */
static int64_t ModifiedAt(const char *path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return -1;
    const int64_t ticks = ((int64_t)data.ftLastWriteTime.dwHighDateTime << 32) | data.ftLastWriteTime.dwLowDateTime;
    return ticks / 10000000 - 11644473600LL;
}

/* Extracts the current file to OUT\fileN.bin and tells which of kContents it holds (-1 for none). */
static int ExtractAndMatch(QorvexHandle h, const EntryInfo *e, const char *out, int index) {
    char target[MAX_PATH];
    snprintf(target, sizeof target, "%s\\file%d.bin", out, index);
    delivered = 0;
    CHECK(QorvexSetCallback(h, Count, &delivered) == ENGINE_OK, "set callback");
    const int32_t result = QorvexExtractCurrentFile(h, target);
    CHECK(result == ENGINE_OK, "extract %s: 0x%04x", target, (unsigned)result);
    long length = 0;
    char *bytes = ReadWhole(target, &length);
    CHECK(bytes != NULL, "cannot read %s back", target);
    int match = -1;
    for (size_t k = 0; bytes && k < kFileCount; ++k)
        if (length == (long)strlen(kContents[k]) && memcmp(bytes, kContents[k], (size_t)length) == 0) match = (int)k;
    free(bytes);
    CHECK(delivered == length, "callback saw %lld bytes of %ld", (long long)delivered, length);
    CHECK(e->time != 0 && ModifiedAt(target) == e->time, "%s: modified %lld, recorded %ld", target,
          (long long)ModifiedAt(target), (long)e->time);
    printf("  %s %s -> %s\n", match >= 0 ? "ok " : "???", e->name, target);
    return match;
}

int main(int argc, char **argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: engine_check IMAGE KIND OUTPUT_FOLDER\n");
        return 2;
    }
    const int32_t kind = atoi(argv[2]);
    printf("%s (kind %d, code page %u, %d-bit)\n", argv[1], kind, GetACP(), (int)(sizeof(void *) * 8));
    CHECK(QorvexGetDllVersion() > 0, "version %d", QorvexGetDllVersion());

    int32_t error = ENGINE_OK;
    QorvexHandle h = QorvexOpen(argv[1], 0, &error);
    CHECK(h != NULL && error == ENGINE_OK, "open: handle %p, error 0x%04x", h, (unsigned)error);
    if (!h) return 1;
    TrackInfo track;
    CHECK(QorvexGetTrackCount(h) == 1, "%d tracks", QorvexGetTrackCount(h));
    CHECK(QorvexGetTrackInfo(h, 0, &track) == ENGINE_OK && track.user_size == 2048, "track 0");
    printf("  track format %d, sectors %d..%d\n", track.format, track.start, track.end_held);

    char label[64] = {0};
    int32_t sectors = 0;
    int64_t bytes = 0;
    QorvexGetImageInformation(h, 0, kind, label, &sectors, &bytes);
    CHECK(strcmp(label, "WINCHECK") == 0, "label \"%s\"", label);

    int found[kFileCount] = {0};
    const int32_t count = QorvexGetFileStart(h, 0, kind);
    CHECK(count == QorvexGetFileCount(h, 0, kind) && count == (int32_t)kFileCount, "%d files", count);
    EntryInfo *e = malloc(sizeof *e);
    for (int32_t i = 0; i < count; ++i) {
        memset(e, 0, sizeof *e);
        QorvexGetNextFile(h, e);
        const int match = ExtractAndMatch(h, e, argv[3], (int)i);
        if (match >= 0) ++found[match];
    }
    for (size_t k = 0; k < kFileCount; ++k) CHECK(found[k] == 1, "file %u found %d times", (unsigned)k, found[k]);
    free(e);
    CHECK(QorvexClose(h) == ENGINE_OK, "close");
    printf("%s\n", failures ? "FAILED" : "passed");
    return failures ? 1 : 0;
}
