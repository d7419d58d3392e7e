/* norva.h used from strict ISO C11 (-Wall -Wextra -Werror -pedantic), linked
 * against the shared library the way a C host program would. */
#include "norva.h"

#include <stdio.h>
#include <string.h>

int main(void)
{
    const char *v = norva_version();
    if (v == NULL) {
        fprintf(stderr, "norva_version returned NULL\n");
        return 1;
    }
    if (strcmp(v, "0.7.0") != 0) {
        fprintf(stderr, "norva_version returned \"%s\", expected \"0.7.0\"\n", v);
        return 1;
    }
    /* The string is owned by the library: the same constant on every call. */
    if (norva_version() != v) {
        fprintf(stderr, "norva_version returned a different pointer on a second call\n");
        return 1;
    }
    printf("norva_version: %s\n", v);
    return 0;
}
