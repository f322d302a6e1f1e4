// Registration file throughput: the writer in records per second, the reader
// in MB/s next to a plain sequential read of the same file through the same
// file layer and block size, the memory the reader keeps, and an export of
// all records (CSV and descriptive) next to a plain write of as many bytes.
//
//   recording_bench [megabytes]     (default 100)
//
// The file lives in a private temporary directory and is deleted at the end.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "instruments/catalogue.h"
#include "instruments/locale.h"
#include "recording/export.h"
#include "recording/file.h"
#include "recording/registration_file.h"
#include "station_records.h"

namespace {

using namespace kx305mon;
using Clock = std::chrono::steady_clock;
using kx305bench::StationRecord;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

long PeakResidentKiB() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Reads the file through the same layer and block size as the reader and
// does nothing else with it.
double PlainRead(const std::string& path, size_t blockSize, int64_t& bytes) {
    std::unique_ptr<FileStream> file = OpenFile(path, FileMode::Reading);
    if (!file) {
        return 1e9;
    }
    std::string block(blockSize, '\0');
    bytes = 0;
    const auto start = Clock::now();
    long got;
    while ((got = file->Read(block.data(), block.size())) > 0) {
        bytes += got;
    }
    return SecondsSince(start);
}

// The registration file with one bit of every byte flipped: no record is
// valid, so a reader that keeps nothing but records keeps nothing.
class DamagedView : public ForwardingFile {
public:
    explicit DamagedView(FileStream& file) : ForwardingFile(file) {}
    bool Write(const void*, size_t) override { return false; }
    long Read(void* data, size_t size) override {
        const long got = ForwardingFile::Read(data, size);
        for (long i = 0; i < got; ++i) {
            static_cast<uint8_t*>(data)[i] ^= 0x04;
        }
        return got;
    }
    bool Truncate() override { return false; }
    bool Flush() override { return true; }
};

// Writes `bytes` bytes in 64 KiB blocks through the same file layer as the
// exports, and nothing else.
double PlainWrite(const std::string& path, int64_t bytes) {
    std::unique_ptr<FileStream> file = OpenFile(path, FileMode::Export);
    if (!file) {
        return 1e9;
    }
    const std::string block(65536, 'x');
    const auto start = Clock::now();
    for (int64_t left = bytes; left > 0; left -= static_cast<int64_t>(block.size())) {
        if (!file->Write(block.data(), static_cast<size_t>(std::min<int64_t>(left, block.size())))) {
            return 1e9;
        }
    }
    file.reset();
    return SecondsSince(start);
}

// An all-records export beside a plain write of its size, the best of three
// each, in turns.  False when an export failed.
bool CompareExport(const char* name, const ExportContext& context, const std::string& path) {
    double exportSeconds = 1e9;
    double plainSeconds = 1e9;
    int64_t bytes = 0;
    for (int run = 0; run < 3; ++run) {
        const auto start = Clock::now();
        ExportResult result = ExportRecords(context, path, kAllRecords);
        if (!result.file || !result.written) {
            std::fprintf(stderr, "%s export failed\n", name);
            return false;
        }
        bytes = result.file->Size();
        result.file.reset();
        exportSeconds = std::min(exportSeconds, SecondsSince(start));
        plainSeconds = std::min(plainSeconds, PlainWrite(path, bytes));
    }
    const double exportRate = bytes / 1e6 / exportSeconds;
    const double plainRate = bytes / 1e6 / plainSeconds;
    std::printf("export:  %-11s %.0f MB in %.2f s: %.0f MB/s, plain write %.0f MB/s, ratio %.2f\n", name, bytes / 1e6,
                exportSeconds, exportRate, plainRate, exportRate / plainRate);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int64_t megabytes = argc > 1 ? std::atoll(argv[1]) : 100;
    const int64_t target = megabytes * 1000 * 1000;
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("kx305_recording_bench_" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string path = (dir / "bench.kxg").string();
    rainGaugeSettings().serial = 1234;

    int status = 1;
    do {
        // Writer.
        std::unique_ptr<FileStream> file = OpenFile(path, FileMode::Recording);
        if (!file) {
            std::fprintf(stderr, "cannot create %s\n", path.c_str());
            break;
        }
        uint32_t written = 0;
        int64_t size = 0;
        const auto writeStart = Clock::now();
        while (size < target) {
            // The size is asked for now and then only: it is a system call.
            for (int i = 0; i < 1000; ++i) {
                if (!WriteRegistrationRecord(*file, StationRecord(written++))) {
                    std::fprintf(stderr, "write failed\n");
                    return 1;
                }
            }
            size = file->Size();
        }
        const double writeSeconds = SecondsSince(writeStart);
        file.reset();
        std::printf("file:    %.1f MB, %u records of %.0f bytes\n", size / 1e6, written,
                    static_cast<double>(size) / written);
        std::printf("writer:  %.0f records/s (%.1f MB/s)\n", written / writeSeconds, size / 1e6 / writeSeconds);

        // Memory: a file of the same size without one valid record, then the
        // real one.  The peak resident size only grows.
        std::unique_ptr<FileStream> reading = OpenFile(path, FileMode::Reading);
        RecordList records;
        const long baseKiB = PeakResidentKiB();
        DamagedView damaged(*reading);
        const int none = ReadRegistrationFile(&damaged, records);
        const long damagedKiB = PeakResidentKiB();

        // Plain reads and the reader in turns, the best of five each, so
        // that both see the same load of the machine.
        int64_t plainBytes = 0;
        double plainSeconds = 1e9;
        double largeSeconds = 1e9;
        double readSeconds = 1e9;
        int count = 0;
        for (int run = 0; run < 5; ++run) {
            plainSeconds = std::min(plainSeconds, PlainRead(path, 2000, plainBytes));
            largeSeconds = std::min(largeSeconds, PlainRead(path, 65536, plainBytes));
            FreeRecordList(records);  // the program reads into an empty list
            const auto start = Clock::now();
            count = ReadRegistrationFile(reading.get(), records);
            readSeconds = std::min(readSeconds, SecondsSince(start));
        }
        const double plainRate = plainBytes / 1e6 / plainSeconds;
        std::printf("plain:   %.0f MB/s in 2000-byte blocks (%.0f MB/s in 64 KiB blocks)\n", plainRate,
                    plainBytes / 1e6 / largeSeconds);
        const long readKiB = PeakResidentKiB();
        const double readRate = plainBytes / 1e6 / readSeconds;
        std::printf("reader:  %.0f MB/s, %d of %u records (%.0f records/s)\n", readRate, count, written,
                    count / readSeconds);
        std::printf("ratio:   reader / plain read = %.2f\n", readRate / plainRate);
        std::printf(
            "memory:  +%ld KiB reading the damaged copy (%d records), +%ld KiB more holding %d records "
            "(%.0f bytes per record)\n",
            damagedKiB - baseKiB, none, readKiB - damagedKiB, count,
            (readKiB - damagedKiB) * 1024.0 / std::max(count, 1));
        status = count == static_cast<int>(written) && none == 0 ? 0 : 1;

        const std::unique_ptr<NumberLocale> polish = MakePolishLocale();
        const std::string exportPath = (dir / "export.txt").string();
        const ExportContext csv = MakeExportContext(kDefaultExportFlags & ~kExportDescriptive, true, records, *polish);
        const ExportContext descriptive = MakeExportContext(kDefaultExportFlags, true, records, *polish);
        if (!CompareExport("CSV", csv, exportPath) || !CompareExport("descriptive", descriptive, exportPath)) {
            status = 1;
        }
    } while (false);

    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return status;
}
