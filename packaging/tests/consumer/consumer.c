/* A program of a package's user: built against the installed kx305 alone,
 * it opens a port that does not exist, which the library must refuse as a
 * port error without a converter. */
#include <kx305.h>
#include <stdio.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s PORT\n", argv[0]);
        return 2;
    }
    KX305Handle handle = 0;
    const KX305Status status = KX305Open(&handle, argv[1]);
    if (status != KX305_STATUS_PORT_ERROR || handle != 0) {
        fprintf(stderr, "KX305Open(%s) gave %d, expected the port error %d\n", argv[1], (int)status,
                KX305_STATUS_PORT_ERROR);
        return 1;
    }
    printf("KX305Open(%s): port error, as it should\n", argv[1]);
    return 0;
}
