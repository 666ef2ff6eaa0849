// What the engine lists for the UDF side of a one-track image, through the public interface.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "qorvex.h"
#include "support/harness/api_helpers.h"
#include "support/temp_dir.h"

namespace qorvex::test {

struct UdfListing {
    int32_t open_error = -1;
    std::string label;
    std::vector<EntryInfo> files, parts;

    const EntryInfo *Part(const std::string &name) const {
        for (const EntryInfo &e : parts)
            if (name == e.name) return &e;
        return nullptr;
    }
    std::vector<std::string> PartNames() const {
        std::vector<std::string> names;
        for (const EntryInfo &e : parts) names.push_back(e.name);
        return names;
    }
    std::vector<std::string> FileNames() const {
        std::vector<std::string> names;
        for (const EntryInfo &e : files) names.push_back(e.name);
        return names;
    }
};

inline std::vector<EntryInfo> Walk(QorvexHandle h, bool files) {
    std::vector<EntryInfo> out;
    for (const Listed &e : ListEntries(h, 0, KIND_UDF, !files)) out.push_back(e.info);
    return out;
}

inline UdfListing ListUdf(const std::string &path, uint32_t options = 0) {
    UdfListing listing;
    int32_t error = 0;
    QorvexHandle h = QorvexOpen(path.c_str(), options, &error);
    listing.open_error = error;
    if (!h) return listing;
    listing.files = Walk(h, true);
    listing.parts = Walk(h, false);
    char label[64] = {};
    int32_t sectors = 0;
    int64_t bytes = 0;
    QorvexGetImageInformation(h, 0, KIND_UDF, label, &sectors, &bytes);
    listing.label = label;
    QorvexClose(h);
    return listing;
}

// Extracts every file of the UDF list (each piece of a file in several, to the same out path) and gives the
// contents by name, the open error in *error. A piece that fails gives "<extraction failed: code>"; a file
// whose pieces extract differently, "<pieces differ>".
inline std::map<std::string, std::string> ExtractUdf(const std::string &image, const std::string &out, uint32_t options,
                                                     int32_t *error) {
    std::map<std::string, std::string> got;
    Opened h(image, options);
    *error = h.error();
    if (!h) return got;
    const int32_t count = QorvexGetFileStart(h.get(), 0, KIND_UDF);
    for (int32_t i = 0; i < count; ++i) {
        EntryInfo e{};
        QorvexGetNextFile(h.get(), &e);
        const int32_t code = QorvexExtractCurrentFile2(h.get(), out.c_str(), 0);
        const std::string text = code != 0 ? "<extraction failed: " + std::to_string(code) + ">" : ReadText(out);
        const auto [at, first] = got.emplace(e.name, text);
        if (!first && at->second != text) at->second = "<pieces differ>";
    }
    return got;
}

}  // namespace qorvex::test
