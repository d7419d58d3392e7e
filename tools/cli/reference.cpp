// The reference of the commands in reStructuredText, made by walking the
// declarations of cli::app().
#include <cctype>
#include <sstream>
#include <vector>

#include "cli.h"

namespace tool::cli {

namespace {

std::size_t indentation(const std::string &line) {
    const std::size_t i = line.find_first_not_of(' ');
    return i == std::string::npos ? line.size() : i;
}

// The lines of a paragraph, kept as written: a literal block.
std::string literal(const std::vector<std::string> &lines) {
    std::size_t cut = std::string::npos;
    for (const std::string &l : lines) cut = std::min(cut, indentation(l));
    std::string out;
    for (const std::string &l : lines) out += "    " + l.substr(cut) + "\n";
    return out + "\n";
}

// The name of an option or operand with its metavariable, as literal text.
std::string option_term(const CLI::Option *opt) {
    std::string names;
    if (opt->get_positional()) return "``" + opt->get_name() + "``";
    for (const std::string &s : opt->get_snames()) names += (names.empty() ? "-" : ", -") + s;
    for (const std::string &l : opt->get_lnames()) names += (names.empty() ? "--" : ", --") + l;
    if (opt->get_type_size() != 0 && !opt->get_type_name().empty())
        names += " " + opt->get_type_name();
    return "``" + names + "``";
}

// One entry of a definition list.
std::string definition(const CLI::Option *opt) {
    std::string text = rst_escape(opt->get_description());
    if (opt->get_type_size() != 0 && !opt->get_positional() && !opt->get_default_str().empty())
        text += " (default: ``" + opt->get_default_str() + "``)";
    return option_term(opt) + "\n   " + text + "\n\n";
}

}  // namespace

std::string rst_escape(const std::string &text) {
    auto word = [](char c) { return std::isalnum((unsigned char)c) || c == '_' || c == '-'; };
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        // An option name (--json, -h, --round=up) becomes literal text, which
        // also keeps "--" from turning into a dash.
        const std::size_t name = c == '-' && i + 1 < text.size() && text[i + 1] == '-' ? 2 : 1;
        if (c == '-' && (i == 0 || !word(text[i - 1])) && i + name < text.size() &&
            std::isalpha((unsigned char)text[i + name])) {
            std::size_t end = i + name;
            while (end < text.size() && word(text[end])) ++end;
            if (end < text.size() && text[end] == '=')
                for (++end; end < text.size() && (word(text[end]) || text[end] == '.');) ++end;
            out += "``" + text.substr(i, end - i) + "``";
            i = end - 1;
            continue;
        }
        const bool markup = c == '\\' || c == '*' || c == '`' || c == '_' || c == '|' ||
                            (c == ':' && i + 1 < text.size() && text[i + 1] == ':');
        // A paragraph that starts with a punctuation mark or a digit could be
        // read as a list, a comment or a directive.
        const bool lead = i == 0 && !std::isalpha((unsigned char)c);
        if (markup || lead) out += '\\';
        out += c;
    }
    return out;
}

std::string rst_paragraphs(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    lines.emplace_back();
    std::string out, prose;
    std::vector<std::string> kept;  // indented lines: a literal block
    auto flush_prose = [&](bool before_literal) {
        if (prose.empty()) {
            if (before_literal) out += "::\n\n";
            return;
        }
        out += rst_escape(prose);
        if (before_literal) out += prose.back() == ':' ? ":" : " ::";
        out += "\n\n";
        prose.clear();
    };
    auto flush_kept = [&] {
        if (kept.empty()) return;
        out += literal(kept);
        kept.clear();
    };
    for (const std::string &l : lines) {
        if (l.find_first_not_of(' ') == std::string::npos) {
            flush_prose(false);
            flush_kept();
        } else if (indentation(l) >= 2) {
            if (kept.empty()) flush_prose(true);
            kept.push_back(l);
        } else {
            flush_kept();
            prose += (prose.empty() ? "" : " ") + l;
        }
    }
    return out;
}

std::string rst_reference(const CLI::App &root) {
    std::string out;
    for (const CLI::App *cmd : root.get_subcommands([](const CLI::App *) { return true; })) {
        const std::string title = "norva " + cmd->get_name();
        out += title + "\n" + std::string(title.size(), '-') + "\n\n";
        std::string summary = cmd->get_description();
        if (!summary.empty()) summary[0] = (char)std::toupper((unsigned char)summary[0]);
        out += rst_escape(summary) + ".\n\n";
        std::string usage = CLI::Formatter().make_usage(cmd, title);
        usage = usage.substr(usage.find(':') + 2);
        while (!usage.empty() && usage.back() == '\n') usage.pop_back();
        out += "Usage::\n\n    " + usage + "\n\n";
        const auto operands =
            cmd->get_options([](const CLI::Option *o) { return o->get_positional(); });
        const auto options =
            cmd->get_options([](const CLI::Option *o) { return o->nonpositional(); });
        if (!operands.empty()) {
            out += "Operands:\n\n";
            for (const CLI::Option *o : operands) out += definition(o);
        }
        if (!options.empty()) {
            out += "Options:\n\n";
            for (const CLI::Option *o : options) out += definition(o);
        }
        out += rst_paragraphs(cmd->get_footer());
    }
    return out;
}

}  // namespace tool::cli
