#include "cli/ConversionFront.h"

namespace korvo::cli {

bool hasConversionFront() {
    return false;
}

void useConversionFront(CTrackConverter&) {}

std::string describeSource(const SourceFormat& format) {
    return std::to_string(format.sampleRate) + " Hz, " +
           (format.encoding.empty() ? std::string("16-bit") : format.encoding);
}

}  // namespace korvo::cli
