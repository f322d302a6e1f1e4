// The texts of the live display as the main window shows them: the status
// field (converter identity and clock) and one panel per input, with the
// picture of each input.  All texts are code page 1250 and come from the
// catalogue and the formatter.  Both front ends use them: the program's
// main window and kx305cli's read command.
//
// Threads: the functions are pure (the clock texts read the platform's
// time zone); the polling worker computes a DisplaySnapshot on its own
// thread and hands it to the UI thread through a DisplayMailbox.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "instruments/locale.h"
#include "kx305.h"

namespace kx305mon {

// "KX-305 wersja %d.%d, nr %d", or "KX-305 wersja ?.?, nr ????" without info.
std::string StatusLine(const ConverterInfo* info);

// The clock part of the status field: the clock in local time as the user's
// long date, ", " and time, dated in the computer's current local year;
// "?????, ?????" without a clock or when it cannot be converted.
std::string ClockText(const ClockRecord* clock, const CalendarTime& utcNow, const CalendarTime& localNow,
                      const NumberLocale& locale);

// One input's panel.
struct PanelText {
    std::string name;         // long name, " nr <serial>" when the instrument has one
    std::string description;  // DescribeReading; empty without an instrument
    std::string status;       // status text; empty without an instrument
};

// Panel of an input; a null reading counts as no instrument.
PanelText DescribePanel(const InputReading* reading, bool averageKX125);

// Bitmap of an input's picture: 112 with an instrument (any type but 0),
// 113 without (a null reading counts as none).
int InputIcon(const InputReading* reading);

// The two lines of the status field: StatusLine, CR LF, ClockText.
std::string StatusFieldText(const ConverterInfo* info, const ClockRecord* clock, const CalendarTime& utcNow,
                            const CalendarTime& localNow, const NumberLocale& locale);

// Everything the main window shows of one polling cycle.
struct DisplaySnapshot {
    std::string status;  // status field
    PanelText panels[KX305_INPUTS];
    int icons[KX305_INPUTS];  // bitmap id per input
};

// The snapshot of a cycle at the computer's current time and the user's
// locale; null pointers give the display without a converter.
DisplaySnapshot MakeDisplaySnapshot(const ConverterInfo* info, const ClockRecord* clock, const InputReading* results,
                                    bool averageKX125);

// The texts of a snapshot by the main window's control: the status field,
// then per input the name, description and status fields, in this order.
struct ControlText {
    int controlId;
    const std::string* text;  // into the snapshot
};
constexpr int kDisplayTextControls = 1 + 3 * KX305_INPUTS;
std::array<ControlText, kDisplayTextControls> DisplayControlTexts(const DisplaySnapshot& snapshot);

// Hands the newest snapshot from the polling worker to the UI thread
// without making the worker wait for the UI: Put stores it (replacing one
// that was not shown yet) and says whether the UI must be woken (nothing
// was waiting); the UI thread Takes it when woken.  A busy window only
// misses intermediate cycles.
class DisplayMailbox {
public:
    // True when the caller must wake the UI thread (post its message).
    bool Put(DisplaySnapshot snapshot);
    // The waiting snapshot, if any.
    std::optional<DisplaySnapshot> Take();

private:
    std::mutex mutex_;
    std::optional<DisplaySnapshot> waiting_;
};

// The rain-gauge settings command of the menu is on while input 0 carries
// a rain gauge (type 1).  Remembers the state the menu shows (off at
// start, as in the menu resource), so that the menu is changed and redrawn
// only when the state changes.
class RainGaugeMenuSwitch {
public:
    // The new state to show, or nothing when the menu stays as it is.
    std::optional<bool> Update(uint32_t typeOfInput0);
    // The connection was lost: no rain gauge is known until a cycle reads
    // one again, so the command goes off (the same answer as Update).
    std::optional<bool> ConnectionLost();
    bool enabled() const { return enabled_; }

private:
    bool enabled_ = false;
};

// The block that kx305cli read prints for one polling cycle: status line,
// clock, then per input "Wejście nr i: " and the name, the description and
// the status, each indented on a line of its own when not empty, and an
// empty line at the end.  Null pointers give the question marks of a
// display without a converter.
std::string LiveBlock(const ConverterInfo* info, const ClockRecord* clock, const InputReading* results,
                      bool averageKX125);

}  // namespace kx305mon
