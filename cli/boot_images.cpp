#include "boot_images.h"

#include <cstdio>
#include <cstring>

#include "qorvex_ext.h"

namespace cli {

bool IsBootPart(int32_t kind) {
    return kind >= QORVEX_EX_KIND_BOOT_RECORD && kind <= QORVEX_EX_KIND_BOOT_SECTION_IMAGE;
}

bool IsBootImage(int32_t kind) {
    return kind == QORVEX_EX_KIND_BOOT_IMAGE || kind == QORVEX_EX_KIND_BOOT_SECTION_IMAGE;
}

std::vector<Entry> BootParts(const Image &image, int32_t track) {
    std::vector<Entry> boot;
    for (Entry &e : image.List(track, KIND_ISO9660, true))
        if (IsBootPart(e.kind)) boot.push_back(std::move(e));
    return boot;
}

std::string BootFileName(const std::string &part_name) {
    constexpr std::string_view kPrefix = "boot image ";
    std::string name =
        part_name.compare(0, kPrefix.size(), kPrefix) == 0 ? part_name.substr(kPrefix.size()) : part_name;
    for (char &c : name)
        if (c == ' ') c = '-';
    return name + ".img";
}

bool ExtractBootImages(const Image &image, int32_t track, const host::OutputTree &tree, bool overwrite,
                       size_t *refused) {
    const std::vector<Entry> parts = image.List(track, KIND_ISO9660, true);
    uint64_t total = 0;
    for (const Entry &e : parts)
        if (IsBootImage(e.kind)) total += e.size;
    Progress progress(total);
    bool any = false, ok = true;
    host::OutputFile file;
    host::OutputProblem problem;
    Sink sink;
    sink.progress = &progress;
    image.Walk(track, KIND_ISO9660, true, [&](size_t i) {
        if (i >= parts.size() || !IsBootImage(parts[i].kind)) return;
        any = true;
        const std::vector<std::string> target = {"[BOOT]", host::SafeComponent(BootFileName(parts[i].name))};
        auto fail = [&](const std::string &why) {
            progress.Finish();
            std::fprintf(stderr, "qorvex: %s: %s\n", host::JoinComponents(target).c_str(), why.c_str());
            ok = false;
        };
        if (!tree.Create(target, overwrite, &file, &problem)) {
            if (problem.refusal == host::Refusal::kExists) ++*refused;
            fail(problem.Describe());
            return;
        }
        sink.file = &file;
        QorvexSetCallback(image.handle(), SinkCallback, &sink);
        const int32_t result = QorvexExtractCurrentModule(image.handle(), nullptr);
        QorvexSetCallback(image.handle(), nullptr, nullptr);
        sink.file = nullptr;
        if (sink.write_error || result != 0) {
            fail(sink.write_error ? std::string("writing failed: ") + std::strerror(sink.write_error)
                                  : DescribeResult(result));
            sink.write_error = 0;
            file.Discard();
            return;
        }
        if (!file.Finish(host::kKeepTime, &problem)) fail(problem.Describe());
    });
    progress.Finish();
    if (!any) std::fprintf(stderr, "qorvex: the image has no boot images\n");
    return ok;
}

}  // namespace cli
