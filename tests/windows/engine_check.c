/* Checks qorvex.dll through its public header, as a Windows program written for it would use it: run under
 * Wine by scripts/windows on images made there. It opens one image, finds the files the script put in it by
 * their names, checks the code-page and UTF-16 names of each (exact in code page 932; "?" for each character
 * another code page lacks), extracts them through the engine's own path export and compares their bytes and dates.
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

/* The files scripts/windows puts in every image: UTF-16 path, contents, code-page name in code page 932. */
struct Expected {
    const char16_t *wname;
    const char *contents;
    const char *cp932; /* the name field when the code page is 932 */
};

static const struct Expected kFiles[] = {
    {u"\\README.TXT", "plain ASCII name\n", "\\README.TXT"},
    /* 日本語.txt */
    {u"\\\u65e5\u672c\u8a9e.txt", "Japanese name\n", "\\\x93\xfa\x96\x7b\x8c\xea.txt"},
    /* 表示\ソフト.txt: both names hold a double-byte character whose second byte is 0x5C ("\") in CP932 */
    {u"\\\u8868\u793a\\\u30bd\u30d5\u30c8.txt", "trail byte 0x5C\n",
     "\\\x95\x5c\x8e\xa6\\\x83\x5c\x83\x74\x83\x67.txt"},
};
#define kFileCount (sizeof kFiles / sizeof kFiles[0])

static size_t Length16(const char16_t *text) {
    size_t n = 0;
    while (text[n]) ++n;
    return n;
}

static int Same16(const char16_t *a, const char16_t *b) {
    size_t n = Length16(a);
    return n == Length16(b) && memcmp(a, b, n * sizeof(char16_t)) == 0;
}

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

/* The two names the engine gives for a file: the code-page name (the bytes of the ANSI code page, one "?" for
 * each character it lacks) and the UTF-16 name, which is made from the code-page name and so holds the same
 * "?" where the code page lacks a character. */
struct Names {
    char name[1024];
    char16_t wname[1024];
};

static void ExpectedNames(const struct Expected *x, struct Names *names) {
    memset(names, 0, sizeof *names);
    if (GetACP() == 932) {
        strcpy(names->name, x->cp932);
        memcpy(names->wname, x->wname, (Length16(x->wname) + 1) * sizeof(char16_t));
        return;
    }
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, (const wchar_t *)x->wname, -1, names->name, sizeof names->name,
                        "?", &lossy);
    MultiByteToWideChar(CP_ACP, 0, names->name, -1, (wchar_t *)names->wname, 1024);
}

static void CheckFile(QorvexHandle h, const EntryInfo *e, const struct Expected *x, const struct Names *names,
                      const char *out, int index) {
    CHECK(strcmp(e->name, names->name) == 0, "code page %u: name \"%s\", expected \"%s\"", GetACP(), e->name,
          names->name);

    /* Extract under the image's own name where the code page can spell it (the engine makes the folders),
     * else under a plain one. */
    char target[2048];
    if (strchr(e->name, '?'))
        snprintf(target, sizeof target, "%s\\file%d.bin", out, index);
    else
        snprintf(target, sizeof target, "%s%s", out, e->name);
    delivered = 0;
    CHECK(QorvexSetCallback(h, Count, &delivered) == ENGINE_OK, "set callback");
    const int32_t result = QorvexExtractCurrentFile(h, target);
    CHECK(result == ENGINE_OK, "extract %s: 0x%04x", target, (unsigned)result);
    long length = 0;
    char *bytes = ReadWhole(target, &length);
    CHECK(bytes != NULL, "cannot read %s back", target);
    if (bytes) {
        CHECK(length == (long)strlen(x->contents) && memcmp(bytes, x->contents, (size_t)length) == 0,
              "%s: %ld bytes, not the contents put in the image", target, length);
        free(bytes);
    }
    CHECK(delivered == (int64_t)strlen(x->contents), "callback saw %lld bytes", (long long)delivered);
    CHECK(e->time != 0 && ModifiedAt(target) == e->time, "%s: modified %lld, recorded %ld", target,
          (long long)ModifiedAt(target), (long)e->time);
    printf("  ok  %s -> %s\n", e->name, target);
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
    struct Names names[kFileCount];
    for (size_t k = 0; k < kFileCount; ++k) ExpectedNames(&kFiles[k], &names[k]);
    const int32_t count = QorvexGetFileStart(h, 0, kind);
    CHECK(count == QorvexGetFileCount(h, 0, kind) && count >= (int32_t)kFileCount, "%d files", count);
    EntryInfo *e = malloc(sizeof *e);
    for (int32_t i = 0; i < count; ++i) {
        memset(e, 0, sizeof *e);
        QorvexGetNextFile(h, e);
        for (size_t k = 0; k < kFileCount; ++k)
            if (Same16(e->wname, names[k].wname)) {
                ++found[k];
                CheckFile(h, e, &kFiles[k], &names[k], argv[3], (int)k);
            }
    }
    for (size_t k = 0; k < kFileCount; ++k) CHECK(found[k] == 1, "file %u found %d times", (unsigned)k, found[k]);
    free(e);
    CHECK(QorvexClose(h) == ENGINE_OK, "close");
    printf("%s\n", failures ? "FAILED" : "passed");
    return failures ? 1 : 0;
}
