/* A library with the engine's export names, to check which libraries the binding accepts. */
#include <stddef.h>
#include <stdint.h>

#define EXPORT __attribute__((visibility("default")))

EXPORT int32_t QorvexGetDllVersion(void) { return STUB_VERSION; }
#ifndef STUB_OMIT_QORVEX
EXPORT int32_t Qorvex(int32_t a, int32_t b) { return a - a + b - b; }
#endif
#ifdef STUB_RECORD_OPTIONS
/* The options word of the last open, for a test to read. */
EXPORT uint32_t stub_last_options = 0;
#define RECORD_OPTIONS(o) (stub_last_options = (o))
#else
#define RECORD_OPTIONS(o) (void)(o)
#endif
EXPORT void *QorvexOpen(const char *p, uint32_t o, int32_t *e) { (void)p; RECORD_OPTIONS(o); if (e) *e = 0x8123; return NULL; }
EXPORT int32_t QorvexClose(void *h) { (void)h; return 0; }
EXPORT int32_t QorvexSetCallback(void *h, void *c, void *u) { (void)h; (void)c; (void)u; return 0; }
EXPORT int32_t QorvexGetFileCount(void *h, int32_t t, int32_t k) { (void)h; (void)t; (void)k; return 0; }
EXPORT int32_t QorvexGetFileStart(void *h, int32_t t, int32_t k) { (void)h; (void)t; (void)k; return 0; }
EXPORT int32_t QorvexGetNextFile(void *h, void *r) { (void)h; (void)r; return 0; }
#ifndef STUB_OMIT_EXTRACT_CURRENT_FILE
EXPORT int32_t QorvexExtractCurrentFile(void *h, const char *p) { (void)h; (void)p; return 0x8121; }
#endif
EXPORT int32_t QorvexExtractCurrentFile2(void *h, const char *p, int32_t s) { (void)h; (void)p; (void)s; return 0x8121; }
EXPORT int32_t QorvexGetImageInformation(void *h, int32_t t, int32_t k, char *l, int32_t *s, int64_t *b) {
    (void)h; (void)t; (void)k; (void)l; (void)s; (void)b; return 0;
}
EXPORT int32_t QorvexGetModuleStart(void *h, int32_t t, int32_t k) { (void)h; (void)t; (void)k; return 0; }
EXPORT int32_t QorvexGetNextModule(void *h, void *r) { (void)h; (void)r; return 0; }
EXPORT int32_t QorvexExtractCurrentModule(void *h, const char *p) { (void)h; (void)p; return 0x8121; }
EXPORT int32_t QorvexGetTrackCount(void *h) { (void)h; return 0; }
#ifndef STUB_OMIT_TRACK_INFO
EXPORT int32_t QorvexGetTrackInfo(void *h, int32_t t, void *i) { (void)h; (void)t; (void)i; return 0x8126; }
#endif
EXPORT int32_t QorvexExtractTrack(void *h, int32_t t, const char *p, uint32_t f) {
    (void)h; (void)t; (void)p; (void)f; return 0x8126;
}
