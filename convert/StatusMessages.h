#pragma once
// The fixed English messages of the status codes that the disk model and the conversion engine
// leave behind. Only the front ends turn a code into text: the window in a message box, the
// command line as the last line on standard error.

#include <string_view>

namespace korvo {

// The text for a status code 1 to 18; empty for every other code (0 is success).
std::string_view statusMessage(int code);

// Messages the window shows without a status code.
inline constexpr std::string_view kNoSongMessage = "No song";
inline constexpr std::string_view kUndisplayableNameMessage =
    "Can't display these characters on Korvo";

}  // namespace korvo
