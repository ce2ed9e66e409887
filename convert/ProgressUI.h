#pragma once
// The engine's view of the progress window: the export and import runs announce their block
// range once and then report every block. step() is where a waiting user interface gets to
// handle its events, and where a press of Cancel comes back as false.

#include <cstdint>
#include <string>

namespace KorvoLib::Korvo {

class IProgressUI {
public:
    virtual ~IProgressUI() = default;
    virtual void begin(std::int32_t low, std::int32_t high) = 0;
    // false: the user asked to stop.
    virtual bool step(std::int32_t position) = 0;
    virtual void setText(const std::string& text) = 0;
};

}  // namespace KorvoLib::Korvo
