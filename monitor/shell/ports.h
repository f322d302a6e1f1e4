// The COM ports of the machine and the choice of the converter's port in the
// port dialog (103).
//
// Discovery goes through a small seam: the Windows program asks the setup
// API (loaded at run time) for the devices of the "Ports" class and probes
// COM1..COM256 for a default configuration; tests use a fake.  Building the
// list, its combo entries and what the dialog's OK does are portable.
//
// Threads: UI thread; the list is built under the live-state lock (the
// polling worker waits meanwhile), the port number is written under it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "acquisition/app_context.h"
#include "shell/settings_store.h"

namespace kx305mon {

constexpr unsigned kPortSlots = 256;  // slot n-1 holds COMn

// Per slot: empty = no such port; an empty text = present without a
// description; else the device's description (code page 1250).
using PortTable = std::array<std::optional<std::string>, kPortSlots>;

class PortDiscovery {
public:
    virtual ~PortDiscovery() = default;
    // Marks the ports that the platform's device list knows, with their
    // descriptions.  False when the device list cannot be asked (no setup
    // API, no "Ports" class).
    virtual bool EnumerateSerialPorts(PortTable& table) = 0;
    // True when the platform knows a default configuration of COMn.
    virtual bool HasDefaultConfig(unsigned port) = 0;
};

// The program's discovery on this platform (Windows build only).
PortDiscovery& SystemPortDiscovery();

// A device's "PortName" value: the port number of "COMn" (1 <= n < 256, at
// least four characters, "COM" in capitals, nothing after the digits), or
// 0 when the name is not accepted (COM3x, LPT1, COM0, com4, ...).
unsigned ParsePortName(std::string_view name);

// Probes the slots for a default configuration: every slot with `probeAll`,
// else only those not yet marked.  A port that answers is marked present
// (without description).  Always true.
bool ProbePortsByConfig(PortTable& table, PortDiscovery& discovery, bool probeAll);

// A description without the " (COMn)" that many drivers end it with.
std::string TrimPortDescription(const std::string& description);

// The port list text: one line per present port in ascending number,
// "COMn:description\n" or "COMn\n".  Starts from an empty table, asks the
// device list, then probes (every port when the device list failed, else
// only the ports it did not find).  `count` = number of ports.
bool BuildPortList(PortDiscovery& discovery, unsigned& count, std::string& text);

// Longest combo entry (without the terminating zero).
constexpr size_t kPortEntryLength = 127;

// The combo entries of a port list text: one per line with its first ":"
// replaced by a blank, cut to kPortEntryLength characters.  (The combo box
// itself sorts them as text: COM10 before COM2.)
std::vector<std::string> PortComboEntries(const std::string& listText);

// The entries of the port combo as the dialog fills it: the list built under
// the live-state lock, turned into entries.
std::vector<std::string> PortComboEntriesFor(AppContext& context, PortDiscovery& discovery);

// Fills the port combo (IDC_PORT_COMBO) of the port dialog `dialog` (an
// HWND) with those entries; none is selected (Windows build only).
void FillPortCombo(WindowRef dialog, AppContext& context);

// The text of the "Aktualnie używany :" field: "COMn", empty for PORT_NONE.
std::string CurrentPortText(int32_t port);

// The port number of a combo text ("COM%li"), or nothing (no selection).
std::optional<int32_t> ParsePortChoice(const char* comboText);

// What OK in the port dialog does with the combo's text.  A new port is
// tested first (`portTest`, which shows its own message on failure and
// returns 1 when the port opens); a failed test or no choice keeps the
// dialog open.  Otherwise the port is stored, group 2 saved, and the dialog
// ends with 1 (true).  The port at opening is not tested again.
bool ConfirmPortChoice(AppContext& context, const char* comboText, int32_t portAtOpening,
                       const std::function<int(int32_t port)>& portTest, SettingsStore& store);

}  // namespace kx305mon
