// What the engine lists for the UDF side of a one-track image, through the public interface.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "qorvex.h"

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
    const int32_t count = files ? QorvexGetFileStart(h, 0, 4) : QorvexGetModuleStart(h, 0, 4);
    if (count <= 0) return out;
    for (int32_t left = 1; left != 0;) {
        EntryInfo e;
        std::memset(&e, 0, sizeof e);
        left = files ? QorvexGetNextFile(h, &e) : QorvexGetNextModule(h, &e);
        out.push_back(e);
        if (out.size() > static_cast<size_t>(count)) break;
    }
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
    QorvexGetImageInformation(h, 0, 4, label, &sectors, &bytes);
    listing.label = label;
    QorvexClose(h);
    return listing;
}

}  // namespace qorvex::test
