// The UDF reader alone (no image detection, no other reader) over an image of 2048-byte sectors, below the
// public interface.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/sector_format.h"
#include "image/track_layout.h"
#include "support/temp_dir.h"
#include "udf/udf_reader.h"

namespace qorvex::test {

// Writes the image to path and reads its one track with the limits given.
inline Status ReadUdfAlone(const std::string &path, const std::vector<uint8_t> &image, const Limits &limits,
                           FsListing *listing) {
    WriteFile(path, image);
    const TrackRecord track = MakeProbedTrack(path, kFormatMode1_2048, 0, static_cast<int64_t>(image.size()));
    SectorReader reader;
    EXPECT_TRUE(reader.SetUp(track, 0));
    EXPECT_TRUE(reader.Open());
    return udf::ReadUdf(reader, limits, listing);
}

}  // namespace qorvex::test
