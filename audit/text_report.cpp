#include "audit/text_report.h"

namespace audit {

namespace {

const char* verdict_sentence(verdict result)
{
    switch (result) {
    case verdict::clean: return "nothing of the Ferrolink client is left";
    case verdict::client_left: return "something of the Ferrolink client is left";
    case verdict::incomplete: return "nothing found, but some items could not be checked";
    }
    return "";
}

// Names and details come from the machine: a control character in a registry value must not start a line
// of its own that reads like another item.
std::string printable(std::string text)
{
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    }
    return text;
}

// A state word longer than the column keeps one space behind it.
std::string padded(const char* word)
{
    std::string text = word;
    text.resize(text.size() < 10 ? 10 : text.size() + 1, ' ');
    return text;
}

std::string header_line(const audit_context& context, const char* version)
{
    return std::string("FerrolinkAudit ") + version + " on " + printable(context.computer) + " at " +
           printable(context.time) + ", as " + printable(context.account) +
           (context.elevated ? " (elevated)" : " (not elevated)");
}

std::string count_of(unsigned count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Only numbers and fixed words: the line stays short whatever the machine holds.
std::string verdict_line(const audit_report& report)
{
    const verdict result = verdict_of(report);
    const state_summary summary = summary_of(report);
    std::string sentence = verdict_sentence(result);
    if (result == verdict::clean && summary.pending_restart > 0)
        sentence += " once Windows restarts (" + count_of(summary.pending_restart, "item goes", "items go") +
                    " at the restart)";
    return "Result: " + sentence + " (exit code " + std::to_string(exit_code_of(result)) + "); " +
           std::to_string(summary.present) + " present, " + std::to_string(summary.absent) + " absent, " +
           std::to_string(summary.unchecked) + " unchecked, " + std::to_string(summary.pending_restart) +
           " pending restart, " + std::to_string(summary.not_counted) + " not counted";
}

} // namespace

std::string item_line(const audit_item& item)
{
    std::string line = padded(state_text(item.state)) + item.part + ": " + printable(item.name);
    std::string notes = printable(item.detail);
    if (item.state == item_state::unchecked) {
        notes += (notes.empty() ? "" : ", ") + std::string("error ") + std::to_string(item.error);
        if (item.needs_admin)
            notes += ", needs administrator rights";
    }
    if (!notes.empty())
        line += " (" + notes + ")";
    if (!item.counted)
        line += " [not counted]";
    return line;
}

std::string text_report(const audit_report& report, const char* version)
{
    std::string text = header_line(report.context, version) + "\n\n";
    std::string admin_only;
    for (const audit_item& item : report.items) {
        text += item_line(item) + "\n";
        if (item.needs_admin)
            admin_only += "  " + item.part + ": " + printable(item.name) + "\n";
    }
    if (!admin_only.empty())
        text += "\nNot readable without administrator rights (run elevated to check them):\n" + admin_only;
    return text + "\n" + verdict_line(report) + "\n";
}

} // namespace audit
