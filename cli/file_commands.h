// The commands on registration files: listing their records, exporting them
// and the rain report.  Everything is written by the recording core; with
// an output file the bytes are exactly those of the Windows program (code
// page 1250, CR LF), without one they go through a temporary file to stdout,
// a piece at a time.  Only the record list is held in memory.
#pragma once

#include <cstdint>
#include <string>

#include "recording/rain_report.h"

namespace kx305cli {

// Every entry of every valid record, one line each:
// record number, time stamp as stored, type, status, serial, quantity id
// and value text, separated by TAB.
int RunDump(const std::string& file);

struct ExportOptions {
    std::string file;
    std::string output;         // "" = stdout
    bool descriptive = true;    // else CSV
    bool listSeparator = true;  // else TAB
    uint32_t fields = 0x1F8;    // ExportFlags bits 3 to 8
    int record = 0;             // 1-based; 0 = all records
    bool averageKX125 = true;
};
int RunExport(const ExportOptions& options);

struct RainOptions {
    std::string file;
    std::string output;
    kx305mon::RainInterval interval = kx305mon::RainInterval::Days;
    bool listSeparator = true;
};
int RunRain(const RainOptions& options);

}  // namespace kx305cli
