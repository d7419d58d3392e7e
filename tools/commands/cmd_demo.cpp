// norva demo: an embedded showcase that needs no input (the sections are
// in demo/).
#include <cstdio>
#include <string>

#include "cli.h"
#include "commands.h"
#include "demo.h"

namespace tool {

namespace {

struct demo_options {
    std::string section;
    bool json = false;
} opts;

// "  NAME     TITLE" per section.
std::string section_list() {
    std::string out;
    for (const demo_section &s : demo_sections()) {
        char line[128];
        std::snprintf(line, sizeof line, "  %-8s %s\n", s.name, s.title);
        out += line;
    }
    return out;
}

int run_demo() {
    const demo_section *only = nullptr;
    if (!opts.section.empty()) {
        for (const demo_section &s : demo_sections())
            if (opts.section == s.name) only = &s;
        if (!only) {
            fail("demo", "unknown section '%s'; the sections are:", opts.section.c_str());
            std::fputs(section_list().c_str(), stderr);
            return exit_error;
        }
    }
    demo_show(only, opts.json);
    return finish_output("demo");
}

}  // namespace

void declare_demo(CLI::App &app) {
    static const std::string details =
        "Prints worked examples where ordinary floating point gives a wrong\n"
        "answer, next to the library's exact or verified results.  Needs no\n"
        "input; everything shown is computed as it runs.  --json writes the\n"
        "sections as a JSON document: per example its numbered title and its\n"
        "lines (label and text, or label and value as {\"hex\", \"dec\"}, or the\n"
        "explanation \"why\").  Sections (all by default):\n" +
        section_list();
    CLI::App *cmd =
        cli::command(app, "demo", "showcase: results that ordinary floating point gets wrong",
                     details.c_str(), run_demo, "expected at most one section");
    cli::operand(cmd, "SECTION", opts.section, "the one section to show (all by default)");
    cli::flag(cmd, "--json", opts.json, "the sections as a JSON document (norva help)");
}

}  // namespace tool
