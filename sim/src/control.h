// The control channel of the running simulator: one text command in, one
// reply line out, "ok ..." or "error <reason>".  The program feeds it the
// lines of its control socket; what concerns the port itself (vanishing,
// whether it is there) goes to hooks the program provides.  Runs on the
// simulator's one thread, between the converter's own events.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "converter.h"

namespace kx305sim {

struct ControlHooks {
    // Takes the port away for `seconds` and brings it back; "" on success,
    // else the reason it cannot.
    std::function<std::string(double seconds)> vanish;
    // Word for the port's state in the state report ("up", "vanished").
    std::function<std::string()> portState;
};

class ControlChannel {
public:
    explicit ControlChannel(Converter& converter, ControlHooks hooks = {});

    // One command line (a trailing CR is ignored) -> one reply line, no newline.
    std::string Handle(const std::string& line);

    // The commands, one per line, for --help.
    static std::string Help();

private:
    using Args = std::vector<std::string>;
    std::string State() const;
    std::string Received(const Args& args);
    std::string Sent() const;
    std::string Input(const Args& args);
    std::string Set(const Args& args);
    std::string Rain(const Args& args);
    std::string SetClock(const Args& args);
    std::string Period(const Args& args);
    std::string Fill(const Args& args);
    std::string Memory(const Args& args) const;
    std::string Capacity(const Args& args);
    std::string Firmware(const Args& args);
    std::string Fault(const Args& args);
    std::string Pace(const Args& args);
    std::string Vanish(const Args& args);
    std::string SendFrame(const Args& args);
    std::string SendRaw(const Args& args);
    std::string RainState() const;

    Converter& converter_;
    ControlHooks hooks_;
};

}  // namespace kx305sim
