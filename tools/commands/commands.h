// Subcommands of the norva command-line tool.  Each command file declares
// its subcommand, options and operands on the CLI11 application
// (declare_NAME) together with what runs once they are parsed; the runner
// returns the exit status: 0 on success, 2 on a usage or input error
// (message on standard error, nothing on standard output).
#ifndef NORVA_TOOLS_COMMANDS_H
#define NORVA_TOOLS_COMMANDS_H

#include <string>

namespace CLI {
class App;
}

namespace tool {

constexpr int exit_ok = 0;
constexpr int exit_error = 2;

void declare_version(CLI::App &app);
void declare_sum(CLI::App &app);
void declare_solve(CLI::App &app);
void declare_batch(CLI::App &app);
void declare_spd(CLI::App &app);
void declare_lstsq(CLI::App &app);
void declare_eig(CLI::App &app);
void declare_demo(CLI::App &app);
void declare_help(CLI::App &app);

// The overview printed by `norva help` (and on standard error when no
// command is given): the commands with their summaries and the
// conventions of --json.
std::string usage_text();

// Prints "norva NAME: MESSAGE" on standard error and returns exit_error.
int fail(const char *command, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

// Flushes standard output; on a write error, reports it and returns
// exit_error, otherwise exit_ok.
int finish_output(const char *command);

}  // namespace tool

#endif
