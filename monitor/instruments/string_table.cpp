// The program's string table, built from the one shared row list.  The
// literals reach the binary in code page 1250 (see kx305_options).
#include "instruments/catalogue.h"

namespace kx305mon {
namespace {

struct StringRow {
    int id;
    const char* text;
};

constexpr StringRow kRows[] = {
#define KX305_STRING(id, name, text) {id, text},
#include "resources/string_table.inc"
#undef KX305_STRING
};

constexpr int kRowCount = static_cast<int>(sizeof kRows / sizeof kRows[0]);

// Rows are listed in id order without gaps, so id n sits at index n - 1.
constexpr bool RowsAreDense() {
    for (int i = 0; i < kRowCount; ++i) {
        if (kRows[i].id != i + 1) return false;
    }
    return true;
}
static_assert(kRowCount == 67, "the string table holds ids 1 to 67");
static_assert(RowsAreDense(), "string table rows must be in id order 1, 2, 3 ...");

}  // namespace

const char* StringText(int id) {
    if (id < 1 || id > kRowCount) return "";
    return kRows[id - 1].text;
}

}  // namespace kx305mon
