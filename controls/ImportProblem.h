#pragma once
// Why a wave file cannot be imported into the loaded song, read from its header alone, so that
// the open dialog can say so before Open is pressed: not a WAV or AIFF file, compressed or
// floating-point samples, another sample size than 16 bits, or another sampling frequency than
// the song's. Empty when the header gives no reason.
//
//   pane->setText(importProblem(path, song.sampleRate()));   // "24-bit samples; 16-bit needed"

#include <QString>

#include <cstdint>

namespace korvo {

// songRate 0: the song is not known, the rate is not judged.
QString importProblem(const QString& path, std::uint32_t songRate);

}  // namespace korvo
