// The command line of the tool on CLI11: every subcommand and option is
// declared once, here and in the command files, and the help text, the
// messages about bad usage and the reference of `norva help --format=rst`
// are all made from those declarations.
#ifndef NORVA_TOOLS_CLI_H
#define NORVA_TOOLS_CLI_H

#include <functional>
#include <string>

#include <CLI/CLI.hpp>

namespace tool::cli {

// What a subcommand does once its options are parsed: the exit status.
using runner = std::function<int()>;

// The application with every subcommand declared, in the order of
// `norva help`.
CLI::App &app();

// Declares the subcommand `name`: a one-line summary (the list of
// commands), `details` (paragraphs after the options in its help; lines
// indented by two or more spaces are kept as they are), `run`, and
// `extra`, the complaint about one operand too many ("too many files
// (expected A.mtx [B.mtx])"; the operand follows in quotes).
CLI::App *command(CLI::App &parent, const char *name, const char *summary, const char *details,
                  runner run, const char *extra);

// An option with one value, kept as written; the command checks it.
// `needs` completes the message when the value is missing ("--round needs
// a mode: nearest, up, down or zero").
CLI::Option *value(CLI::App *cmd, const char *name, std::string &out, const char *metavar,
                   const char *needs, const char *help);

// An option without a value.
CLI::Option *flag(CLI::App *cmd, const char *name, bool &out, const char *help);

// An operand (a positional argument).  With `missing` it is required, and
// its absence is reported as "missing MISSING".
CLI::Option *operand(CLI::App *cmd, const char *name, std::string &out, const char *help,
                     const char *missing = nullptr);

// Parses argv and runs the subcommand chosen; the exit status.
int run(int argc, char **argv);

// The help of one subcommand, as `norva CMD --help` prints it.
std::string help_text(const CLI::App *cmd);

// The reference of every subcommand in reStructuredText: per command a
// section "norva CMD" underlined with '-', its summary, its usage as a
// literal block, its operands and options as definition lists, and its
// details.
std::string rst_reference(const CLI::App &root);

// Paragraphs of `text` (see command()) as reStructuredText.
std::string rst_paragraphs(const std::string &text);

// `text` with the characters that reStructuredText would read as markup
// escaped.
std::string rst_escape(const std::string &text);

}  // namespace tool::cli

#endif
