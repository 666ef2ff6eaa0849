#include "tracks/output_file.h"

#include <algorithm>

#include "model/catalogue_entry.h"

namespace qorvex {

Status OutputFile::Create(const char *path) {
    if (!path) return Status::Ok();
    platform::MakeOutputFolders(path);  // a failure shows as the create failing
    if (!file_.Create(path)) return Code::kOutputOpenFailed;
    path_ = path;
    return Status::Ok();
}

Status OutputFile::Presize(uint64_t length) {
    if (!path_) return Status::Ok();
    if (!file_.SetLength(static_cast<int64_t>(std::min<uint64_t>(length, INT64_MAX))) || !file_.Seek(0)) {
        file_.Close();
        path_ = nullptr;
        return Code::kWriteFailed;
    }
    return Status::Ok();
}

Status OutputFile::Finish(int32_t date, int32_t attributes) {
    if (!path_) return Status::Ok();
    if (date != 0) file_.SetModificationTime(date);
    QORVEX_TRY(Close());
    if (!(attributes & kAttributeDirectory)) platform::SetFileAttributes(path_, attributes);
    return Status::Ok();
}

Status OutputFile::Close() {
    if (!path_ || !file_.IsOpen()) return Status::Ok();
    return file_.Close() ? Status::Ok() : Code::kOutputCloseFailed;
}

}  // namespace qorvex
