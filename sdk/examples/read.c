/* Reads a KX-305 converter once: its identity and the current readings of
 * its five inputs.
 *
 *   read \\.\COM3
 *
 * MinGW:       gcc read.c -I..\include -L..\lib64 -lkx305 -o read.exe
 * Visual C++:  cl read.c /I..\include ..\lib64\kx305.lib
 * (lib32 for a 32-bit program; kx305.dll of the same width beside read.exe.)
 */
#include <stdio.h>

#include "kx305.h"

/* A request only starts in the library; KX305DoneWait waits for its end
 * (BUSY: a try was repeated, go on waiting). */
static KX305Status Finish(KX305Handle* handle) {
    uint32_t percent = 0;
    KX305Status status;
    do {
        status = KX305DoneWait(handle, &percent);
    } while (status == KX305_STATUS_BUSY || status == KX305_STATUS_PROGRESS);
    return status;
}

int main(int argc, char** argv) {
    KX305Handle handle = NULL;
    ConverterInfo info;
    InputReading inputs[KX305_INPUTS];
    KX305Status status;
    int i, j;

    if (argc != 2) {
        fprintf(stderr, "usage: %s PORT (for example \\\\.\\COM3)\n", argv[0]);
        return 2;
    }
    status = KX305Open(&handle, argv[1]);
    if (status != KX305_STATUS_OK) {
        fprintf(stderr, "%s: cannot open the port (status %d)\n", argv[1], (int)status);
        return 1;
    }
    status = KX305GetInfo(&handle, &info);
    if (status == KX305_STATUS_OK) status = Finish(&handle);
    if (status == KX305_STATUS_OK) {
        printf("KX-305 firmware %u.%02u, serial number %u\n", info.versionMajor, info.versionMinor, info.serialNumber);
        status = KX305GetResults(&handle, inputs);
        if (status == KX305_STATUS_OK) status = Finish(&handle);
    }
    if (status != KX305_STATUS_OK) {
        fprintf(stderr, "%s: the converter did not answer (status %d)\n", argv[1], (int)status);
        KX305Close(&handle);
        return 1;
    }
    /* What the data words mean depends on the instrument (see kx305.h). */
    for (i = 0; i < KX305_INPUTS; ++i) {
        printf("input %d: type %u", i, (unsigned)inputs[i].type);
        if (inputs[i].type != KX305_TYPE_NONE) {
            printf(", data");
            for (j = 0; j < 6; ++j) printf(" %ld", (long)inputs[i].data[j]);
        }
        printf("\n");
    }
    KX305Close(&handle);
    return 0;
}
