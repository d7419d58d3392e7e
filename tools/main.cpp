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
#include "json.h"
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
    {"batch", cmd_batch, "verified solves of many small dense systems in one call"},
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
                 "Exit status: 0 on success, 2 on a usage or input error.\n"
                 "\n"
                 "Every command takes --json and then writes its results as one JSON\n"
                 "document instead: each computed double as {\"hex\": \"0x1.8p+1\", \"dec\": 3}\n"
                 "(exact hexadecimal, and the shortest decimal that reads back as the same\n"
                 "double); infinities and NaN, which JSON numbers cannot hold, as the\n"
                 "strings \"inf\", \"-inf\" and \"nan\"; each enclosure as {\"lo\", \"hi\",\n"
                 "\"width\" (hi - lo rounded up), \"ulps\" (null when unproven)}; with the\n"
                 "status, the path taken, the mode and the time in seconds (\"time_s\").\n"
                 "Errors are reported as without --json: exit status 2, the message on\n"
                 "standard error, nothing on standard output.\n");
}

// --json anywhere among the arguments; it is removed from them.
bool take_json(int &argc, char **argv) {
    bool json = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--json") == 0)
            json = true;
        else
            argv[kept++] = argv[i];
    argc = kept;
    argv[argc] = nullptr;
    return json;
}

int cmd_help(int argc, char **argv) {
    if (take_json(argc, argv)) {
        if (argc > 1) return fail("help", "--json lists the commands; it takes no command name");
        json_writer w;
        json_begin(w, "help");
        w.begin_array("commands");
        for (const command &c : commands) {
            w.begin_object(nullptr, true);
            w.string("name", c.name);
            w.string("summary", c.summary);
            w.end_object();
        }
        w.end_array();
        w.finish();
        return finish_output("help");
    }
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
    if (take_json(argc, argv)) {
        if (argc > 1) return fail("version", "unexpected argument '%s'", argv[1]);
        json_writer w;
        json_begin(w, "version");
        w.finish();
        return finish_output("version");
    }
    if (argc > 1) {
        if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
            std::printf("Usage: norva version [--json]\n\nPrints the version of the library "
                        "(--json: {\"command\": \"version\", \"version\": ...}).\n");
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
