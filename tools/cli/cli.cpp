#include "cli.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <vector>

#include "commands.h"

namespace tool::cli {

namespace {

struct command_info {
    runner run;
    std::string extra;
};

std::map<const CLI::App *, command_info> &commands_declared() {
    static std::map<const CLI::App *, command_info> m;
    return m;
}

// The completion of "OPTION needs ..." per option.
std::map<const CLI::Option *, std::string> &needs_declared() {
    static std::map<const CLI::Option *, std::string> m;
    return m;
}

// `text` broken into lines of at most `width` characters at blanks.
std::string wrap(const std::string &text, std::size_t width) {
    std::istringstream words(text);
    std::string out, word;
    std::size_t col = 0;
    while (words >> word) {
        if (col > 0 && col + 1 + word.size() > width) {
            out += '\n';
            col = 0;
        } else if (col > 0) {
            out += ' ';
            ++col;
        }
        out += word;
        col += word.size();
    }
    return out;
}

// The help of a subcommand: usage, summary, operands, options, details.
class help_formatter : public CLI::Formatter {
public:
    help_formatter() {
        column_width(24);
        label("Positionals", "Operands");
    }

    std::string make_option_desc(const CLI::Option *opt) const override {
        return wrap(opt->get_description(), 78 - get_column_width());
    }

    std::string make_help(const CLI::App *app, std::string name,
                          CLI::AppFormatMode mode) const override {
        std::string summary = app->get_description();
        if (!summary.empty()) summary[0] = (char)std::toupper((unsigned char)summary[0]);
        std::string out = make_usage(app, name) + "\n" + wrap(summary, 78) + ".\n";
        out += make_positionals(app);
        out += make_groups(app, mode);
        if (!app->get_footer().empty()) out += "\n" + app->get_footer();
        return out;
    }
};

CLI::App *find_command(CLI::App &root, const char *name) {
    for (CLI::App *c : root.get_subcommands([](CLI::App *) { return true; }))
        if (c->get_name() == name) return c;
    return nullptr;
}

}  // namespace

CLI::App &app() {
    static CLI::App root("verified linear algebra in IEEE 754 double precision", "norva");
    static const bool declared = [] {
        CLI::App *a = &root;
        a->formatter(std::make_shared<help_formatter>());
        a->set_help_flag("-h,--help", "show this help");
        a->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        a->require_subcommand(1, 1);
        declare_version(*a);
        declare_sum(*a);
        declare_solve(*a);
        declare_batch(*a);
        declare_spd(*a);
        declare_lstsq(*a);
        declare_eig(*a);
        declare_demo(*a);
        declare_help(*a);
        return true;
    }();
    (void)declared;
    return root;
}

CLI::App *command(CLI::App &parent, const char *name, const char *summary, const char *details,
                  runner run, const char *extra) {
    CLI::App *cmd = parent.add_subcommand(name, summary);
    cmd->footer(details);
    cmd->allow_extras();
    commands_declared()[cmd] = {std::move(run), extra};
    return cmd;
}

CLI::Option *value(CLI::App *cmd, const char *name, std::string &out, const char *metavar,
                   const char *needs, const char *help) {
    CLI::Option *opt = cmd->add_option(name, out, help)->type_name(metavar);
    if (!out.empty()) opt->default_str(out);
    needs_declared()[opt] = needs;
    return opt;
}

CLI::Option *flag(CLI::App *cmd, const char *name, bool &out, const char *help) {
    return cmd->add_flag(name, out, help);
}

CLI::Option *operand(CLI::App *cmd, const char *name, std::string &out, const char *help,
                     const char *missing) {
    CLI::Option *opt = cmd->add_option(name, out, help)->type_name("");
    if (missing) {
        opt->required();
        needs_declared()[opt] = missing;
    }
    return opt;
}

std::string help_text(const CLI::App *cmd) { return cmd->help("norva"); }

int run(int argc, char **argv) {
    CLI::App &root = app();
    if (argc < 2) {
        std::fputs(usage_text().c_str(), stderr);
        return exit_error;
    }
    const char *name = argv[1];
    if (!std::strcmp(name, "--help") || !std::strcmp(name, "-h")) name = "help";
    if (!std::strcmp(name, "--version")) name = "version";
    CLI::App *cmd = find_command(root, name);
    if (!cmd) {
        std::fprintf(stderr, "norva: unknown command '%s'\n\n%s", argv[1], usage_text().c_str());
        return exit_error;
    }
    std::vector<char *> args(argv, argv + argc);
    std::string chosen = name;
    args[1] = chosen.data();
    try {
        root.parse((int)args.size(), args.data());
    } catch (const CLI::CallForHelp &) {
        std::fputs(help_text(cmd).c_str(), stdout);
        return finish_output(name);
    } catch (const CLI::ArgumentMismatch &e) {
        // "OPTION: 1 required TYPE missing" and the like.
        const std::string what = e.what(), option = what.substr(0, what.find(':'));
        const CLI::Option *opt = cmd->get_option_no_throw(option);
        const auto need = opt ? needs_declared().find(opt) : needs_declared().end();
        if (need != needs_declared().end())
            return fail(name, "%s needs %s", option.c_str(), need->second.c_str());
        return fail(name, "%s (norva %s --help)", what.c_str(), name);
    } catch (const CLI::RequiredError &e) {
        for (const CLI::Option *opt : cmd->get_options())
            if (opt->get_positional() && opt->get_required() && opt->count() == 0)
                return fail(name, "missing %s (norva %s --help)", needs_declared()[opt].c_str(),
                            name);
        return fail(name, "%s (norva %s --help)", e.what(), name);
    } catch (const CLI::ParseError &e) {
        return fail(name, "%s (norva %s --help)", e.what(), name);
    }
    // CLI11 leaves the "--" that ends the options among the extras; what
    // follows it is an operand whatever its spelling.
    bool operands_only = false;
    for (const std::string &a : cmd->remaining()) {
        if (a == "--" && !operands_only) {
            operands_only = true;
            continue;
        }
        if (!operands_only && a.size() > 1 && a[0] == '-')
            return fail(name, "unknown option '%s' (norva %s --help)", a.c_str(), name);
        return fail(name, "%s ('%s')", commands_declared()[cmd].extra.c_str(), a.c_str());
    }
    return commands_declared()[cmd].run();
}

}  // namespace tool::cli
