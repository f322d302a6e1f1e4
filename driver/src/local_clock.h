// The computer's local date and time as the driver reads them.
//
// The year of downloaded log records comes from the local date when the
// transfer ends; tests put a fixed date in its place.
#pragma once

#include <ctime>

namespace kx305 {

struct LocalDate {
    int year;   // four digits
    int month;  // 1-12
    int day;    // 1-31
};

using LocalDateProvider = LocalDate (*)();

// Today's local date, from the provider if one is set.
LocalDate CurrentLocalDate();

// Replaces the source of CurrentLocalDate (null: the computer's clock again).
// Internal: not exported from the library.
void SetLocalDateProvider(LocalDateProvider provider);

// The local date and time now, broken down; false if the clock cannot be read.
bool LocalTimeNow(std::tm& out);

}  // namespace kx305
