#include "udf/udf_reader.h"

namespace qorvex::udf {

struct UdfState {};

void UdfStateDeleter::operator()(UdfState *state) const {
    delete state;
}

int32_t ReadUdf(VolumeScanner &) {
    return 0;
}

void BuildUdfLists(VolumeScanner &, CatalogueSet &) {}

}  // namespace qorvex::udf
