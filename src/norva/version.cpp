#include "norva.h"

extern "C" NORVA_API const char *norva_version(void) { return "0.7.0"; }
