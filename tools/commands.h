// Subcommands of the norva command-line tool.  Each one receives its own
// arguments (argv[0] is the subcommand's name) and returns the exit status:
// 0 on success, 2 on a usage or input error (message on standard error,
// nothing on standard output).
#ifndef NORVA_TOOLS_COMMANDS_H
#define NORVA_TOOLS_COMMANDS_H

namespace tool {

constexpr int exit_ok = 0;
constexpr int exit_error = 2;

int cmd_version(int argc, char **argv);
int cmd_sum(int argc, char **argv);
int cmd_solve(int argc, char **argv);
int cmd_batch(int argc, char **argv);
int cmd_spd(int argc, char **argv);
int cmd_lstsq(int argc, char **argv);
int cmd_eig(int argc, char **argv);
int cmd_demo(int argc, char **argv);

// Prints "norva NAME: MESSAGE" on standard error and returns exit_error.
int fail(const char *command, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

// Flushes standard output; on a write error, reports it and returns
// exit_error, otherwise exit_ok.
int finish_output(const char *command);

}  // namespace tool

#endif
