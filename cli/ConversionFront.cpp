#include "cli/ConversionFront.h"

#include "transcode/SoundFileFactory.h"

namespace korvo::cli {

bool hasConversionFront() {
    return true;
}

void useConversionFront(CTrackConverter& converter) {
    converter.setWaveFileFactory(transcode::makeSoundFileFactory());
}

std::string describeSource(const SourceFormat& format) {
    return transcode::describeSource(format);
}

}  // namespace korvo::cli
