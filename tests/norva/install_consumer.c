/* A host program built against an installed copy of the library, with only
 * the flags that pkg-config reports for it. */
#include <norva.h>

#include <stdio.h>
#include <string.h>

int main(void)
{
    const char *v = norva_version();
    if (v == NULL || strcmp(v, "0.7.0") != 0) {
        fprintf(stderr, "unexpected version from the installed library: %s\n", v ? v : "(null)");
        return 1;
    }
    printf("installed norva %s\n", v);
    return 0;
}
