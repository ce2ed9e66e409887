#pragma once
// The conversion front as the commands use it: other formats, rates and depths in, FLAC out.
// A build without it (the Windows build) reads and writes WAV and AIFF only.

#include <string>

#include "convert/TrackConverter.h"
#include "convert/WaveFileFactory.h"

namespace korvo::cli {

bool hasConversionFront();
// Lets the converter read and write other formats through the front, where the build has it.
void useConversionFront(CTrackConverter& converter);
// "44100 Hz, 24-bit": what a source file holds, for messages.
std::string describeSource(const SourceFormat& format);

}  // namespace korvo::cli
