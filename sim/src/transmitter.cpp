#include "transmitter.h"

#include <algorithm>
#include <climits>

namespace kx305sim {

using kx305::Frame;

Transmitter::Transmitter(const TimeSource& time, ByteSink& sink, uint32_t seed)
    : time_(time), sink_(sink), random_(seed) {}

bool Transmitter::Chance(double share) {
    if (share <= 0) return false;
    if (share >= 1) return true;
    return std::uniform_real_distribution<double>(0.0, 1.0)(random_) < share;
}

void Transmitter::SendReply(std::vector<Frame>& frames) {
    if (frames.empty()) return;
    if (faults_.silentFromCode >= 0 && faults_.silentFromCode == frames.front().command()) {
        faults_.silent = true;
        faults_.silentFromCode = -1;
    }
    if (faults_.silent) {
        ++counters_.silenced;
        return;
    }
    const int64_t due = time_.MonotonicUs() + int64_t(faults_.delayMs) * 1000;
    const uint8_t code = frames.front().command();
    if (code < 16 && lastReply_[code] && Chance(faults_.stale)) {
        Frame stale = *lastReply_[code];
        QueueFrame(stale, due, false);
        ++counters_.stale;
    }
    if (Chance(faults_.unsolicited)) {
        if (std::optional<Frame> extra = UnsolicitedFrame(frames.front())) {
            QueueFrame(*extra, due, false);
            ++counters_.unsolicited;
        }
    }
    std::vector<bool> chosen(frames.size(), false);
    if (faults_.dropReplyCode == code) {
        const int n = static_cast<int>(frames.size());
        for (int at : faults_.dropReplyFrames) {
            const int i = at < 0 ? n + at : at;
            if (i >= 0 && i < n) chosen[static_cast<size_t>(i)] = true;
        }
        faults_.dropReplyCode = -1;
        faults_.dropReplyFrames.clear();
    }
    for (size_t i = 0; i < frames.size(); ++i) {
        Frame& frame = frames[i];
        kx305::BuildFrame(frame, frame.address(), frame.aux(), frame.command(), nullptr, frame.length());
        if (chosen[i] || Chance(faults_.drop)) {
            ++counters_.dropped;
            continue;
        }
        QueueFrame(frame, due, true);
        ++counters_.frames;
    }
    if (code < 16) lastReply_[code] = frames.front();
}

// A frame the host did not ask for: a reply to another command that was
// answered before, the reply itself under another address, or a code the
// host knows no handler for.
std::optional<Frame> Transmitter::UnsolicitedFrame(const Frame& reply) {
    std::vector<Frame> choices;
    for (int code = 0; code < 16; ++code)
        if (code != reply.command() && lastReply_[code]) choices.push_back(*lastReply_[code]);
    Frame wrongAddress = reply;
    wrongAddress.bytes[kx305::kAddressByte] = static_cast<uint8_t>(reply.address() + 1);
    choices.push_back(wrongAddress);
    static const uint8_t kUnknownCodes[] = {2, 12, 13, 0x40};
    const uint8_t unknown = kUnknownCodes[std::uniform_int_distribution<int>(0, 3)(random_)];
    const uint8_t junk[4] = {0x12, 0x34, 0x7E, 0x7F};
    Frame other;
    kx305::BuildFrame(other, reply.address(), 0, unknown, junk, sizeof junk);
    choices.push_back(other);
    return choices[std::uniform_int_distribution<size_t>(0, choices.size() - 1)(random_)];
}

void Transmitter::SendFrame(Frame& frame) { QueueFrame(frame, time_.MonotonicUs(), false); }

void Transmitter::SendRaw(const uint8_t* data, size_t length) { Queue(data, length, time_.MonotonicUs()); }

void Transmitter::QueueFrame(Frame& frame, int64_t due, bool mayCorrupt) {
    std::vector<uint8_t> wire(kx305::kMaxWireFrame);
    wire.resize(kx305::EncodeFrame(frame, wire.data()));
    if (mayCorrupt && Chance(faults_.corrupt)) {
        Corrupt(wire);
        ++counters_.corrupted;
    }
    Queue(wire.data(), wire.size(), due);
}

void Transmitter::Corrupt(std::vector<uint8_t>& wire) {
    Corruption kind = faults_.corruption;
    if (kind == Corruption::kAny) kind = static_cast<Corruption>(std::uniform_int_distribution<int>(1, 3)(random_));
    // Positions of data bytes that stand alone (not part of an escape pair).
    std::vector<size_t> plain;
    for (size_t i = 1; i < wire.size(); ++i)
        if (wire[i] != kx305::kFrameEscape && wire[i - 1] != kx305::kFrameEscape) plain.push_back(i);
    auto pick = [this](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random_); };
    if (kind == Corruption::kChecksum && !plain.empty()) {
        // Neither 0x7E nor 0x7F is a plain byte, and flipping bit 0 of any
        // other byte makes neither of them: the damage stays one data byte.
        wire[plain[pick(plain.size())]] ^= 0x01;
    } else if (kind == Corruption::kEscape && !plain.empty()) {
        const size_t at = plain[pick(plain.size())];
        const uint8_t bad[2] = {kx305::kFrameEscape, 0x00};
        wire.insert(wire.begin() + static_cast<std::ptrdiff_t>(at), bad, bad + 2);
    } else {
        wire.resize(1 + pick(wire.size() - 1));
    }
}

void Transmitter::Queue(const uint8_t* data, size_t length, int64_t due) {
    if (length == 0) return;
    queue_.push_back(Chunk{due, std::vector<uint8_t>(data, data + length)});
}

void Transmitter::Flush() {
    blocked_ = false;
    const int64_t now = time_.MonotonicUs();
    while (!queue_.empty()) {
        Chunk& chunk = queue_.front();
        if (chunk.due > now) return;
        size_t want = chunk.bytes.size() - chunk.sent;
        int64_t start = 0;
        if (pacing_) {
            // An idle line saves up no time: the first byte starts when due.
            start = std::max(lineFreeUs_, chunk.due);
            if (start > now) return;
            want = std::min<size_t>(want, static_cast<size_t>((now - start) / kByteTimeUs + 1));
        }
        const size_t taken = sink_.Write(chunk.bytes.data() + chunk.sent, want);
        chunk.sent += taken;
        if (pacing_) lineFreeUs_ = start + static_cast<int64_t>(taken) * kByteTimeUs;
        if (chunk.sent == chunk.bytes.size()) {
            queue_.pop_front();
            continue;
        }
        if (taken < want) blocked_ = true;
        return;
    }
}

int64_t Transmitter::NextDueUs() const {
    if (queue_.empty()) return INT64_MAX;
    const int64_t due = queue_.front().due;
    return pacing_ ? std::max(due, lineFreeUs_) : due;
}

size_t Transmitter::queuedBytes() const {
    size_t n = 0;
    for (const Chunk& chunk : queue_) n += chunk.bytes.size() - chunk.sent;
    return n;
}

void Transmitter::Discard() {
    queue_.clear();
    blocked_ = false;
}

const char* CorruptionName(Corruption corruption) {
    switch (corruption) {
    case Corruption::kChecksum:
        return "checksum";
    case Corruption::kEscape:
        return "escape";
    case Corruption::kTruncate:
        return "truncate";
    default:
        return "any";
    }
}

bool ParseCorruption(const std::string& text, Corruption& corruption) {
    for (Corruption c : {Corruption::kAny, Corruption::kChecksum, Corruption::kEscape, Corruption::kTruncate}) {
        if (text == CorruptionName(c)) {
            corruption = c;
            return true;
        }
    }
    return false;
}

}  // namespace kx305sim
