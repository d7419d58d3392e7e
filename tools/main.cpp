// norva: command-line front end of the library.
//
//   norva COMMAND [ARGS...]
//
// The commands and their options are declared in commands/ on the
// application of cli/; a new subcommand is one declare_NAME function and
// one line in cli::app().
#include <cfenv>

#include "cli.h"

int main(int argc, char **argv) {
    // Number conversion (strtod, strtof) and any floating-point work of the
    // tool itself run under round-to-nearest.
    std::fesetround(FE_TONEAREST);
    return tool::cli::run(argc, argv);
}
