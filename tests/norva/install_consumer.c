/* A host program built against an installed copy of the library, with only
 * the flags that pkg-config reports for it, or with the imported target of
 * the CMake package (which passes the version it found as
 * NORVA_PACKAGE_VERSION). */
#include <norva.h>

#include <stdio.h>
#include <string.h>

#ifndef NORVA_PACKAGE_VERSION
#define NORVA_PACKAGE_VERSION "0.7.0"
#endif

int main(void)
{
    const char *v = norva_version();
    if (v == NULL || strcmp(v, NORVA_PACKAGE_VERSION) != 0) {
        fprintf(stderr, "unexpected version from the installed library: %s\n", v ? v : "(null)");
        return 1;
    }
    printf("installed norva %s\n", v);
    return 0;
}
