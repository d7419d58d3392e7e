// norva: command-line front end of the library.
//
//   norva COMMAND [ARGS...]
//
// A new subcommand is one function (see commands.h) and one row of the
// table below.
#include <cerrno>
#include <cfenv>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "norva.h"

namespace tool {

namespace {

struct command {
    const char *name;
    int (*run)(int argc, char **argv);
    const char *summary;
};

int cmd_help(int argc, char **argv);

const command commands[] = {
    {"version", cmd_version, "print the library version"},
    {"sum", cmd_sum, "add numbers exactly and round the sum once"},
    {"solve", cmd_solve, "verified solve of a dense, interval, band or sparse system"},
    {"spd", cmd_spd, "prove positive definiteness, bound the smallest eigenvalue"},
    {"lstsq", cmd_lstsq, "verified least-squares or minimum-norm solution"},
    {"eig", cmd_eig, "enclose every eigenvalue of a symmetric matrix"},
    {"demo", cmd_demo, "showcase: results that ordinary floating point gets wrong"},
    {"help", cmd_help, "list the commands, or show the help of one (norva help sum)"},
};

const command *find(const char *name) {
    for (const command &c : commands)
        if (std::strcmp(c.name, name) == 0) return &c;
    return nullptr;
}

void usage(std::FILE *out) {
    std::fprintf(out,
                 "Usage: norva COMMAND [ARGS...]\n"
                 "\n"
                 "Command-line tool of norva %s, verified linear algebra in IEEE 754\n"
                 "double precision.\n"
                 "\n"
                 "Commands:\n",
                 norva_version());
    for (const command &c : commands) std::fprintf(out, "  %-9s %s\n", c.name, c.summary);
    std::fprintf(out,
                 "\n"
                 "norva COMMAND --help shows the options of a command.\n"
                 "Exit status: 0 on success, 2 on a usage or input error.\n");
}

int cmd_help(int argc, char **argv) {
    if (argc <= 1) {
        usage(stdout);
        return finish_output("help");
    }
    if (argc > 2) return fail("help", "expected at most one command name");
    const command *c = find(argv[1]);
    if (!c) return fail("help", "unknown command '%s' (norva help lists them)", argv[1]);
    if (c->run == cmd_help) {
        usage(stdout);
        return finish_output("help");
    }
    char help[] = "--help";
    char *args[] = {argv[1], help, nullptr};
    return c->run(2, args);
}

}  // namespace

int fail(const char *command, const char *fmt, ...) {
    std::fflush(stdout);
    std::fprintf(stderr, "norva %s: ", command);
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stderr, fmt, ap);
    va_end(ap);
    std::fputc('\n', stderr);
    return exit_error;
}

int finish_output(const char *command) {
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        const int e = errno;
        std::fprintf(stderr, "norva %s: cannot write the output: %s\n", command,
                     std::strerror(e ? e : EIO));
        return exit_error;
    }
    return exit_ok;
}

int cmd_version(int argc, char **argv) {
    if (argc > 1) {
        if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
            std::printf("Usage: norva version\n\nPrints the version of the library.\n");
            return finish_output("version");
        }
        return fail("version", "unexpected argument '%s'", argv[1]);
    }
    std::printf("%s\n", norva_version());
    return finish_output("version");
}

}  // namespace tool

int main(int argc, char **argv) {
    // Number conversion (strtod, strtof) and any floating-point work of the
    // tool itself run under round-to-nearest.
    std::fesetround(FE_TONEAREST);
    if (argc < 2) {
        tool::usage(stderr);
        return tool::exit_error;
    }
    const char *name = argv[1];
    if (std::strcmp(name, "--help") == 0 || std::strcmp(name, "-h") == 0) name = "help";
    if (std::strcmp(name, "--version") == 0) name = "version";
    const tool::command *c = tool::find(name);
    if (!c) {
        std::fprintf(stderr, "norva: unknown command '%s'\n\n", argv[1]);
        tool::usage(stderr);
        return tool::exit_error;
    }
    return c->run(argc - 1, argv + 1);
}
