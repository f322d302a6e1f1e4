#pragma once

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "recording/file.h"

namespace kx305cli {

// The registration file as the worker writes it, keeping the system's
// reason for the last write or flush it refused.  The download's report
// tells that the file refused records; only this tells why (the worker
// seeks and cuts the file after a failed write, which changes errno).
// Written and read on the worker's thread; the report is made there too.
class WatchedFile final : public kx305mon::ForwardingFile {
public:
    explicit WatchedFile(std::unique_ptr<kx305mon::FileStream> file) : ForwardingFile(*file), file_(std::move(file)) {}

    bool Write(const void* data, size_t size) override { return Kept(ForwardingFile::Write(data, size)); }
    bool Flush() override { return Kept(ForwardingFile::Flush()); }

    // errno of the last refused write or flush, 0 before any.  Shared: the
    // worker closes the file when its path no longer names it, and the
    // reason is still read after that.
    using Error = std::shared_ptr<const std::atomic<int>>;
    Error lastError() const { return lastError_; }

private:
    bool Kept(bool ok) {
        if (!ok) lastError_->store(errno);
        return ok;
    }

    std::unique_ptr<kx305mon::FileStream> file_;
    std::shared_ptr<std::atomic<int>> lastError_ = std::make_shared<std::atomic<int>>(0);
};

}  // namespace kx305cli
