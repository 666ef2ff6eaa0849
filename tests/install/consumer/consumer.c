/* A third-party program built against the installed engine: prints the label and the files of the file
 * system the engine chooses on the first track of an image. */
#include <inttypes.h>
#include <stdio.h>

#include <qorvex.h>
#include <qorvex_ext.h> /* compiles as C beside the base header */

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: consumer IMAGE\n");
        return 2;
    }
    int32_t error = 0;
    QorvexHandle h = QorvexOpen(argv[1], 0, &error);
    if (!h) {
        fprintf(stderr, "consumer: cannot open %s: 0x%" PRIx32 "\n", argv[1], (uint32_t)error);
        return 1;
    }
    char label[33] = {0};
    int32_t sectors = 0;
    int64_t bytes = 0;
    int32_t kind = QorvexGetImageInformation(h, 0, KIND_AUTO, label, &sectors, &bytes);
    printf("engine %" PRId32 "\n", QorvexGetDllVersion());
    printf("tracks %" PRId32 "\n", QorvexGetTrackCount(h));
    printf("kind %" PRId32 " label %s sectors %" PRId32 " bytes %" PRId64 "\n", kind, label, sectors, bytes);
    static EntryInfo entry;
    if (QorvexGetFileStart(h, 0, kind) > 0) {
        int32_t more;
        do {
            more = QorvexGetNextFile(h, &entry);
            printf("file %s %" PRIu32 "\n", entry.name, entry.size_low);
        } while (more != 0);
    }
    return QorvexClose(h) == 0 ? 0 : 1;
}
