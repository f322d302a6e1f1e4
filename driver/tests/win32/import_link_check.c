/*
 * A C program that uses kx305.dll the way a C or C++ application does:
 * kx305.h and the import library, no GetProcAddress.  On 32-bit x86 every
 * call below refers to the decorated __stdcall name (_KX305Open@8 ...), so
 * the program links only if the import library maps those names to the
 * plain ones the DLL exports.
 *
 * Run, it needs no converter: each of the 16 functions is called without a
 * handle and must refuse with 9.  Exit code 0, or the number of the first
 * call that returned something else.
 */
#include <stdio.h>

#include "kx305.h"

static int failed(int step, const char* name, KX305Status status) {
    if (status == KX305_STATUS_BAD_HANDLE) return 0;
    fprintf(stderr, "%s without a handle returned %d, not %d\n", name, (int)status, KX305_STATUS_BAD_HANDLE);
    return step;
}

int main(void) {
    KX305Handle handle = NULL;
    uint32_t percent = 0;
    ConverterInfo info = {0};
    ClockRecord clock = {0};
    uint16_t word = 0;
    InputReading results[KX305_INPUTS] = {{0}};
    LogBuffer log = {0};
    int step = 0;

#define KX305_CHECK(call)                         \
    do {                                          \
        ++step;                                   \
        const int rc = failed(step, #call, call); \
        if (rc != 0) return rc;                   \
    } while (0)

    KX305_CHECK(KX305Open(NULL, "COM1"));
    KX305_CHECK(KX305Close(&handle));
    KX305_CHECK(KX305DoneWait(&handle, &percent));
    KX305_CHECK(KX305UserBreak(&handle));
    KX305_CHECK(KX305GetInfo(&handle, &info));
    KX305_CHECK(KX305SetSerialNumber(&handle, &word));
    KX305_CHECK(KX305GetTime(&handle, &clock));
    KX305_CHECK(KX305SetTime(&handle, &clock));
    KX305_CHECK(KX305GetLogPeriod(&handle, &word));
    KX305_CHECK(KX305SetLogPeriod(&handle, &word));
    KX305_CHECK(KX305GetResults(&handle, results));
    KX305_CHECK(KX305GetLog(&handle, &log));
    KX305_CHECK(KX305PeekLog(&handle, &log));
    KX305_CHECK(KX305FreeLog(&handle, &log));
    KX305_CHECK(KX305ResetRainCounter(&handle));
    KX305_CHECK(KX305ClearLog(&handle));

#undef KX305_CHECK
    return 0;
}
