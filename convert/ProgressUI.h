#pragma once
// The engine's view of the progress window: the export and import runs announce their block
// range once and then report every block. step() is where a waiting user interface gets to
// handle its events, and where a press of Cancel comes back as false.
//
// CProgressUI is the progress state that the progress window and the terminal progress bar
// share: the range, the position, the percentage shown, and the rule that a report does
// user-interface work only when the whole percentage changes. A front end derives from it and
// supplies the three hooks: handling waiting events, refreshing what is shown, the title text.

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

class CProgressUI {
public:
    virtual ~CProgressUI() = default;

    // Stores the range; position at low, step 1, granularity (high - low) / 100 but at least 1.
    virtual void begin(std::int32_t low, std::int32_t high);
    // Moves to position; handles waiting events and refreshes only when the percentage changes.
    // False once the user asked to stop.
    virtual bool step(std::int32_t position);
    virtual void setText(const std::string& text) { (void)text; }
    virtual void setCancelled(bool cancelled) { cancelled_ = cancelled ? 1 : 0; }
    void range(std::int32_t& low, std::int32_t& high) const {
        low = low_;
        high = high_;
    }
    std::int32_t position() const { return position_; }
    virtual std::string text() const { return {}; }
    // Handles waiting events and answers whether the user asked to stop.
    virtual bool pollCancel() {
        handleEvents();
        return cancelled_ != 0;
    }
    // One step forward; events are handled once per granularity positions and at the end.
    virtual bool advance();

    // 100 for an empty range; else ((position - low) * 100 + 100) / (high - low), clamped to
    // 0..100, so the first block of a short range already shows progress and the last gives 100.
    int percentage() const;
    bool cancelled() const { return cancelled_ != 0; }

protected:
    // Handle the events waiting in the front end's queue (a press of Cancel sets the flag).
    virtual void handleEvents() {}
    // Show the current percentage.
    virtual void refresh() {}

    std::int32_t low_ = 0;
    std::int32_t high_ = 100;
    std::int32_t position_ = 0;
    std::int32_t stepSize_ = 1;
    std::int32_t granularity_ = 1;
    std::int32_t counter_ = 0;
    std::int32_t cancelled_ = 0;
};

}  // namespace KorvoLib::Korvo
