// The sample data of a RIFF WAVE file that a sheet names.
#pragma once

#include <string>

#include "model/status.h"
#include "model/track_record.h"

namespace qorvex::sheets {

// Finds the "data" chunk of a WAVE file holding CD audio (PCM, 2 channels, 44100 Hz, 16 bits): its window
// in the file. kUnknownFormat for anything else.
Status ReadWaveWindow(const std::string &path, FileWindow *window);

}  // namespace qorvex::sheets
