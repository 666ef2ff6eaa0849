// One system use area parsed into what its SUSP / RRIP entries say (SP, CE, ER, ST, PX, PN, SL, NM, CL, PL,
// RE, TF, ZF), with names and links continued across entries. The first byte says whether the area is the
// root's "." record (where SP counts); the rest is the area.
#include "rockridge/susp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    qorvex::rockridge::RecordInfo info;
    qorvex::rockridge::ParseSystemUse(qorvex::ByteView(data + 1, size - 1), (data[0] & 1) != 0, info);
    return 0;
}
