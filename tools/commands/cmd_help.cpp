// norva help and norva version, and what every command shares: the
// overview, error messages and the check of standard output.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli.h"
#include "commands.h"
#include "json.h"
#include "norva.h"

namespace tool {

namespace {

const char help_details[] =
    "Without COMMAND: the list of commands and the conventions of --json.\n"
    "\n"
    "--format=rst writes the reference of every command and option in\n"
    "reStructuredText, one section per command (the manual's command-line\n"
    "reference is made from it).\n";

const char version_details[] = "--json writes {\"command\": \"version\", \"version\": ...}.\n";

struct help_options {
    std::string command, format;
    bool json = false;
} help_opts;

bool version_json = false;

// The subcommands in the order of their declaration.
std::vector<CLI::App *> all_commands() {
    return cli::app().get_subcommands([](CLI::App *) { return true; });
}

int run_help() {
    const help_options &o = help_opts;
    if (!o.format.empty() && o.format != "rst")
        return fail("help", "unknown format '%s' (rst)", o.format.c_str());
    if (o.json) {
        if (!o.command.empty() || !o.format.empty())
            return fail("help", "--json lists the commands; it takes no command name");
        json_writer w;
        json_begin(w, "help");
        w.begin_array("commands");
        for (const CLI::App *c : all_commands()) {
            w.begin_object(nullptr);
            w.string("name", c->get_name());
            w.string("summary", c->get_description());
            w.end_object();
        }
        w.end_array();
        w.finish();
        return finish_output("help");
    }
    if (!o.format.empty()) {
        if (!o.command.empty())
            return fail("help",
                        "--format=rst writes the reference of every command; it takes "
                        "no command name");
        std::fputs(cli::rst_reference(cli::app()).c_str(), stdout);
        return finish_output("help");
    }
    const CLI::App *chosen = nullptr;
    for (const CLI::App *c : all_commands())
        if (!o.command.empty() && c->get_name() == o.command) chosen = c;
    if (o.command.empty() || (chosen && chosen->get_name() == "help")) {
        std::fputs(usage_text().c_str(), stdout);
        return finish_output("help");
    }
    if (!chosen)
        return fail("help", "unknown command '%s' (norva help lists them)", o.command.c_str());
    std::fputs(cli::help_text(chosen).c_str(), stdout);
    return finish_output("help");
}

int run_version() {
    if (version_json) {
        json_writer w;
        json_begin(w, "version");
        w.finish();
    } else {
        std::printf("%s\n", norva_version());
    }
    return finish_output("version");
}

}  // namespace

void declare_help(CLI::App &app) {
    CLI::App *cmd =
        cli::command(app, "help", "list the commands, or show the help of one (norva help sum)",
                     help_details, run_help, "expected at most one command name");
    cli::operand(cmd, "COMMAND", help_opts.command, "the command whose help to show");
    cli::flag(cmd, "--json", help_opts.json, "the list of commands as a JSON document");
    cli::value(cmd, "--format", help_opts.format, "rst", "a format: rst",
               "the reference of every command in this format (rst: reStructuredText)");
}

void declare_version(CLI::App &app) {
    CLI::App *cmd = cli::command(app, "version", "print the library version", version_details,
                                 run_version, "unexpected argument");
    cli::flag(cmd, "--json", version_json, "the version as a JSON document");
}

std::string usage_text() {
    std::string out = std::string(
                          "Usage: norva COMMAND [ARGS...]\n"
                          "\n"
                          "Command-line tool of norva ") +
                      norva_version() +
                      ", verified linear algebra in IEEE 754\n"
                      "double precision.\n"
                      "\n"
                      "Commands:\n";
    for (const CLI::App *c : all_commands()) {
        char line[160];
        std::snprintf(line, sizeof line, "  %-9s %s\n", c->get_name().c_str(),
                      c->get_description().c_str());
        out += line;
    }
    out +=
        "\n"
        "norva COMMAND --help shows the options of a command; norva help\n"
        "--format=rst the reference of every command in reStructuredText.\n"
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
        "standard error, nothing on standard output.\n";
    return out;
}

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

}  // namespace tool
