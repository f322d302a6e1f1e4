// A PNG writer without a compression library: 8-bit RGB, filter 0 on every
// row, the zlib stream made of stored deflate blocks.  Screenshots get large
// (about 3 bytes a pixel) but need nothing beyond the standard library.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kx305::ui {

uint32_t Crc32(std::string_view bytes, uint32_t crc = 0);
uint32_t Adler32(std::string_view bytes, uint32_t adler = 1);

// `rgb` holds height rows of width * 3 bytes, top row first.  Returns the
// file's bytes, or "" when the sizes do not fit together (zero, or rgb not
// width * height * 3 bytes).
std::string EncodePng(uint32_t width, uint32_t height, std::string_view rgb);

}  // namespace kx305::ui
