#include "png_writer.h"

#include <array>

namespace kx305::ui {
namespace {

const std::array<uint32_t, 256>& CrcTable() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    return table;
}

void PutBig32(std::string& out, uint32_t v) {
    out += static_cast<char>(v >> 24);
    out += static_cast<char>(v >> 16);
    out += static_cast<char>(v >> 8);
    out += static_cast<char>(v);
}

// Length, type, data, CRC over type and data.
void PutChunk(std::string& out, std::string_view type, std::string_view data) {
    PutBig32(out, static_cast<uint32_t>(data.size()));
    const size_t typeAt = out.size();
    out.append(type);
    out.append(data);
    PutBig32(out, Crc32(std::string_view(out).substr(typeAt)));
}

}  // namespace

uint32_t Crc32(std::string_view bytes, uint32_t crc) {
    const auto& table = CrcTable();
    uint32_t c = crc ^ 0xFFFFFFFFu;
    for (const char b : bytes) c = table[(c ^ static_cast<uint8_t>(b)) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

uint32_t Adler32(std::string_view bytes, uint32_t adler) {
    constexpr uint32_t kMod = 65521;
    uint32_t a = adler & 0xFFFF, b = adler >> 16;
    // 5552 bytes keep b below 2^32 before the reduction.
    while (!bytes.empty()) {
        const size_t n = bytes.size() < 5552 ? bytes.size() : 5552;
        for (size_t i = 0; i < n; ++i) {
            a += static_cast<uint8_t>(bytes[i]);
            b += a;
        }
        a %= kMod;
        b %= kMod;
        bytes.remove_prefix(n);
    }
    return (b << 16) | a;
}

std::string EncodePng(uint32_t width, uint32_t height, std::string_view rgb) {
    const uint64_t rowBytes = uint64_t(width) * 3;
    if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF || rgb.size() != rowBytes * height)
        return "";

    // The image data as zlib sees it: a filter byte (0, none) before each row.
    std::string raw;
    raw.reserve(static_cast<size_t>((rowBytes + 1) * height));
    for (uint32_t y = 0; y < height; ++y) {
        raw += '\0';
        raw.append(rgb.substr(static_cast<size_t>(y * rowBytes), static_cast<size_t>(rowBytes)));
    }

    // zlib header: deflate, 32 KiB window, no dictionary, fastest level;
    // 0x7801 is a multiple of 31 as the header check wants.
    std::string z = "\x78\x01";
    constexpr size_t kMaxStored = 65535;
    size_t at = 0;
    do {
        const size_t n = raw.size() - at < kMaxStored ? raw.size() - at : kMaxStored;
        const bool last = at + n == raw.size();
        z += static_cast<char>(last ? 1 : 0);  // BFINAL, BTYPE 00 (stored)
        z += static_cast<char>(n & 0xFF);
        z += static_cast<char>(n >> 8);
        z += static_cast<char>(~n & 0xFF);
        z += static_cast<char>((~n >> 8) & 0xFF);
        z.append(raw, at, n);
        at += n;
    } while (at < raw.size());
    PutBig32(z, Adler32(raw));

    std::string header;
    PutBig32(header, width);
    PutBig32(header, height);
    header += '\x08';  // bits per sample
    header += '\x02';  // colour type: RGB
    header += '\0';    // compression: deflate
    header += '\0';    // filter method 0
    header += '\0';    // no interlace

    std::string png = "\x89PNG\r\n\x1a\n";
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", z);
    PutChunk(png, "IEND", "");
    return png;
}

}  // namespace kx305::ui
