/*
 * kx305 - driver library for the KX-305 measurement converter.
 *
 * Threads: every exported function may be called from any thread, but one
 * handle serves one caller thread at a time (start a request, then poll
 * KX305DoneWait until it returns something other than BUSY and PROGRESS).
 * KX305UserBreak is the exception: it may be called from another thread while
 * KX305DoneWait waits.  Different handles are independent.
 *
 * Ownership: every record passed in belongs to the caller.  Output records are
 * written by the library's reader thread while a request runs and must stay
 * valid until KX305DoneWait has returned a final status.  The LogRecord array
 * behind a LogBuffer belongs to the handle: it stays valid until KX305FreeLog,
 * the next KX305GetLog/KX305PeekLog on the handle, or KX305Close.
 *
 * All records use natural alignment; the sizes are fixed (see the asserts).
 */
#ifndef KX305_H
#define KX305_H

#include <stdint.h>

#if defined(_WIN32)
#define KX305_API __stdcall
#else
#define KX305_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque handle: the caller keeps it in a variable and passes its address. */
typedef void* KX305Handle;

/* Result of every exported function. */
typedef int32_t KX305Status;

#define KX305_STATUS_OK         0 /* done, or request started */
#define KX305_STATUS_BUSY       1 /* DoneWait: still running (a try was repeated) */
#define KX305_STATUS_PROGRESS   2 /* DoneWait: log transfer running, percent tells how far */
#define KX305_STATUS_BROKEN_OFF 3 /* DoneWait: broken off by KX305UserBreak */
#define KX305_STATUS_TIMEOUT    4 /* DoneWait: no valid reply on any try */
#define KX305_STATUS_PORT_ERROR 6 /* port could not be opened, configured or written */
#define KX305_STATUS_NO_MEMORY  7 /* allocation failed */
#define KX305_STATUS_NO_RESOURCE                                                         \
    8                             /* event or thread could not be created; log data lost \
                                   * (DoneWait: percent then holds how many, see KX305GetLog) */
#define KX305_STATUS_BAD_HANDLE 9 /* null pointer, null handle or unknown handle */

/* Firmware version word of a ConverterInfo: (major << 8) | minor. */
#define KX305_FIRMWARE_VERSION(major, minor) ((uint16_t)(((unsigned)(major) << 8) | (unsigned)(minor)))
/* From firmware 1.13 on the converter keeps its logging memory on a
 * download: KX305PeekLog leaves the records, KX305ClearLog erases them.
 * Before it only KX305GetLog downloads (and empties the memory) and
 * KX305ClearLog does nothing. */
#define KX305_FIRMWARE_KEEPS_LOG             KX305_FIRMWARE_VERSION(1, 13)

/* Converter identity, filled by KX305GetInfo. */
typedef struct ConverterInfo {
    uint8_t versionMajor;
    uint8_t versionMinor;
    uint8_t day; /* firmware date */
    uint8_t month;
    uint16_t year;
    uint16_t serialNumber;
} ConverterInfo;

/* Converter clock in UTC, binary values, no year. */
typedef struct ClockRecord {
    uint8_t month; /* 1-12 */
    uint8_t day;   /* 1-31 */
    uint8_t hour;  /* 0-23 */
    uint8_t minute;
    uint8_t second;
} ClockRecord;

/* InputReading.type: the instrument the library recognised in an input's
 * data.  The KX-124 comes in two forms with different data words. */
#define KX305_TYPE_NONE              0  /* nothing, or data of no known form */
#define KX305_TYPE_RAIN_GAUGE        1  /* the converter's rain counter, input 0 */
#define KX305_TYPE_KX538S            2  /* distance meter */
#define KX305_TYPE_KX124             3  /* thermohygrometer: temperature and humidity */
#define KX305_TYPE_KX124_TEMPERATURE 4  /* thermohygrometer reporting temperature only */
#define KX305_TYPE_KX125             5  /* thermometer, up to eight channels */
#define KX305_TYPE_KX129             6  /* thermohygrobarometer */
#define KX305_TYPE_KX132             7  /* barometer */
#define KX305_TYPE_KX153             8  /* anemometer */
#define KX305_TYPE_KX261             9  /* radiation meter */
#define KX305_TYPE_KX262             10 /* radiation meter, one or two channels */
#define KX305_TYPE_KX273             11 /* surface-resistance meter */
#define KX305_TYPE_LAST              KX305_TYPE_KX273

/* One converter input: instrument type 0-11 and 22 data words whose meaning
 * depends on the type.  Words a type does not name are left untouched. */
typedef struct InputReading {
    uint32_t type;
    int32_t data[22];
} InputReading;

#define KX305_INPUTS 5

/* A result set: inputs 0 to 4. */
typedef struct ResultSet {
    InputReading inputs[KX305_INPUTS];
} ResultSet;

/* One decoded record of the converter's logging memory (time in UTC; the
 * year is inferred from the computer's date when the transfer ends). */
typedef struct LogRecord {
    uint16_t year;
    uint8_t month;
    uint8_t day;
    uint8_t hour;
    uint8_t minute;
    uint8_t second;
    uint8_t subSecond;
    InputReading results[KX305_INPUTS];
} LogRecord;

/* Percent of a KX305GetLog ending with 8 when the count frame was lost as
 * well: how many records were lost is not known. */
#define KX305_LOG_LOST_UNKNOWN 0xFFFFFFFFu

/* Descriptor of a downloaded logging memory; records belong to the handle. */
typedef struct LogBuffer {
    uint16_t count;
    LogRecord* records;
} LogBuffer;

#ifdef __cplusplus
static_assert(sizeof(ConverterInfo) == 8, "ConverterInfo is 8 bytes");
static_assert(sizeof(ClockRecord) == 5, "ClockRecord is 5 bytes");
static_assert(sizeof(InputReading) == 92, "InputReading is 92 bytes");
static_assert(sizeof(ResultSet) == 460, "a result set is 460 bytes");
static_assert(sizeof(LogRecord) == 468, "LogRecord is 468 bytes");
#else
typedef char kx305_size_check_info[sizeof(ConverterInfo) == 8 ? 1 : -1];
typedef char kx305_size_check_clock[sizeof(ClockRecord) == 5 ? 1 : -1];
typedef char kx305_size_check_input[sizeof(InputReading) == 92 ? 1 : -1];
typedef char kx305_size_check_results[sizeof(ResultSet) == 460 ? 1 : -1];
#endif

/* Opens the port (for example "\\.\COM3" or "/dev/ttyUSB0") at 9600 baud.
 * 0 with the handle in *ph; else 6, 7 or 8 with *ph null; 9 if ph is null. */
KX305Status KX305_API KX305Open(KX305Handle* ph, const char* portPath);
/* Stops the handle's threads, closes the port, frees the handle, nulls *ph. 0 or 9. */
KX305Status KX305_API KX305Close(KX305Handle* ph);
/* Waits up to 2500 ms for the pending request; status 0-8 and percent 0-100, or 9
 * (after 8 on a log transfer the percent is a number of records, see KX305GetLog).
 * On a handle that has not started a request it returns 4 (100 %) at once. */
KX305Status KX305_API KX305DoneWait(KX305Handle* ph, uint32_t* percent);
/* Ends the pending request with status 3 for the next KX305DoneWait. 0 or 9. */
KX305Status KX305_API KX305UserBreak(KX305Handle* ph);
/* The request functions below only start a request and return 0, or 9 for a
 * bad handle or a null record pointer; KX305DoneWait reports the outcome. */

/* Starts reading the converter identity; also selects the firmware's command set. 0 or 9. */
KX305Status KX305_API KX305GetInfo(KX305Handle* ph, ConverterInfo* info);
/* Starts writing the converter serial number. 0 or 9. */
KX305Status KX305_API KX305SetSerialNumber(KX305Handle* ph, const uint16_t* serialNumber);
/* Starts reading the converter clock (UTC). 0 or 9. */
KX305Status KX305_API KX305GetTime(KX305Handle* ph, ClockRecord* clock);
/* Starts setting the converter clock (UTC). 0 or 9. */
KX305Status KX305_API KX305SetTime(KX305Handle* ph, const ClockRecord* clock);
/* Starts reading the log period (minutes up to firmware 1.01, else seconds). 0 or 9. */
KX305Status KX305_API KX305GetLogPeriod(KX305Handle* ph, uint16_t* period);
/* Starts writing the log period (minutes up to firmware 1.01, else seconds). 0 or 9. */
KX305Status KX305_API KX305SetLogPeriod(KX305Handle* ph, const uint16_t* period);
/* Starts reading the current readings into five InputReadings (inputs 0-4). 0 or 9. */
KX305Status KX305_API KX305GetResults(KX305Handle* ph, InputReading* results);
/* Starts downloading the logging memory; the converter empties it afterwards. 0 or 9.
 * KX305DoneWait returns 2 with the share received while the records come, then
 * 0 with all of them in *log.  Up to firmware 1.12 the converter empties its
 * memory as soon as it takes the request, so once it has begun to answer (a
 * count frame announcing records, or record frames in its place) the request
 * is never sent again: when the records stop coming short of the end, it ends
 * with 8, *log holds the records that did arrive (decoded, in arrival order,
 * possibly none), and the percent of that KX305DoneWait is the number of
 * announced records that did not arrive, KX305_LOG_LOST_UNKNOWN when the count
 * frame was lost too.  A failed allocation (7) also ends with 8, all announced
 * records lost.  Only a converter that does not answer at all gets the request
 * again (1, then 4 after the last try). */
KX305Status KX305_API KX305GetLog(KX305Handle* ph, LogBuffer* log);
/* Starts downloading the logging memory without emptying it. 0 or 9.
 * Tries that lose frames are sent again (the records are still there). */
KX305Status KX305_API KX305PeekLog(KX305Handle* ph, LogBuffer* log);
/* Releases the handle's log buffers and clears *log. 0 or 9. */
KX305Status KX305_API KX305FreeLog(KX305Handle* ph, LogBuffer* log);
/* Starts resetting the rain counter (completes at once on firmware before 1.05). 0 or 9. */
KX305Status KX305_API KX305ResetRainCounter(KX305Handle* ph);
/* Starts emptying the logging memory (completes at once before firmware 1.13). 0 or 9. */
KX305Status KX305_API KX305ClearLog(KX305Handle* ph);

#ifdef __cplusplus
}
#endif

#endif /* KX305_H */
