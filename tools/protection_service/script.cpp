#include "script.h"

#include "helper/helper_wire.h"
#include "helper/iovchelper.h"

#include <cctype>

namespace protection_double {

namespace {

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

// Reads one line word by word; the rest of it can be taken whole (messages, subkeys).
class line_reader {
public:
    explicit line_reader(std::string_view line) : line_(line) {}

    std::string_view word()
    {
        skip_blanks();
        const std::size_t start = at_;
        while (at_ < line_.size() && !is_blank(line_[at_]))
            ++at_;
        return line_.substr(start, at_ - start);
    }

    // Everything after the blanks that follow the last word, trailing blanks included.
    std::string_view rest()
    {
        skip_blanks();
        const std::string_view text = line_.substr(at_);
        at_ = line_.size();
        return text;
    }

    bool at_end()
    {
        skip_blanks();
        return at_ == line_.size();
    }

private:
    void skip_blanks()
    {
        while (at_ < line_.size() && is_blank(line_[at_]))
            ++at_;
    }

    std::string_view line_;
    std::size_t at_ = 0;
};

bool parse_number(std::string_view text, std::uint64_t limit, std::uint64_t& value)
{
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 16)
        return false;
    std::uint64_t parsed = 0;
    for (const char c : text) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return false;
        parsed = parsed * base + digit;
        if (parsed > limit)
            return false;
    }
    value = parsed;
    return true;
}

template <typename T>
bool parse_number_as(std::string_view text, T& value)
{
    std::uint64_t parsed = 0;
    if (!parse_number(text, static_cast<T>(~T(0)), parsed))
        return false;
    value = static_cast<T>(parsed);
    return true;
}

// An optional hex word that must end the line.
std::string parse_trailing_hex(line_reader& reader, bytes& out)
{
    const std::string_view hex = reader.word();
    if (!from_hex(hex, out))
        return "bad hex bytes";
    return reader.at_end() ? std::string() : "unexpected text after the hex bytes";
}

std::string parse_answer(line_reader& reader, answer& out)
{
    const std::string_view action = reader.word();
    if (action == "result") {
        std::uint8_t ok = 0;
        if (!parse_number_as(reader.word(), ok))
            return "result needs a flag from 0 to 255";
        const std::string_view message = reader.rest();
        out.kind = answer_kind::payload;
        const std::string encoded = std::string(1, static_cast<char>(ok)) + std::string(message) + std::string(1, '\0');
        out.reply.assign(encoded.begin(), encoded.end());
        return std::string();
    }
    if (action == "bytes") {
        out.kind = answer_kind::payload;
        return parse_trailing_hex(reader, out.reply);
    }
    if (action == "delay") {
        std::uint32_t ms = 0;
        if (!parse_number_as(reader.word(), ms))
            return "delay needs milliseconds";
        const std::string error = parse_answer(reader, out);
        out.delay_ms = out.delay_ms + ms < ms ? 0xFFFFFFFFu : out.delay_ms + ms;
        return error;
    }
    const struct {
        const char* word;
        answer_kind kind;
    } bare[] = {{"none", answer_kind::none}, {"drop", answer_kind::drop}, {"exit", answer_kind::exit}};
    for (const auto& each : bare) {
        if (action == each.word) {
            out.kind = each.kind;
            return reader.at_end() ? std::string() : "unexpected text after " + std::string(action);
        }
    }
    return "unknown action '" + std::string(action) + "'";
}

std::string parse_on(line_reader& reader, script& into)
{
    std::uint32_t id = 0;
    if (!parse_number_as(reader.word(), id))
        return "on needs a message id";
    line_reader lookahead = reader;
    const std::string_view action = lookahead.word();
    if (action == "send" || action == "post") {
        outgoing frame;
        frame.one_way = action == "post";
        if (!parse_number_as(lookahead.word(), frame.id))
            return std::string(action) + " needs a message id";
        const std::string error = parse_trailing_hex(lookahead, frame.payload);
        if (error.empty())
            into.on[id].before.push_back(frame);
        return error;
    }
    answer parsed;
    const std::string error = parse_answer(reader, parsed);
    if (!error.empty())
        return error;
    id_script& entry = into.on[id];
    entry.has_answer = true;
    entry.reply = parsed;
    return std::string();
}

std::string parse_version(line_reader& reader, version_reply& out)
{
    version_reply parsed;
    if (!parse_number_as(reader.word(), parsed.compatible) || !parse_number_as(reader.word(), parsed.version))
        return "version needs COMPATIBLE VERSION";
    if (!reader.at_end())
        return "unexpected text after the version";
    out = parsed;
    return std::string();
}

std::string parse_protect(line_reader& reader, script& into)
{
    const std::string_view what = reader.word();
    if (what == "service") {
        initial_service service;
        service.name = std::string(reader.word());
        service.sid = std::string(reader.word());
        if (service.name.empty() || !reader.at_end())
            return "protect service needs NAME [SID]";
        if (service.sid.empty())
            service.sid = default_service_sid;
        into.services.push_back(service);
        return std::string();
    }
    if (what == "reg") {
        initial_key key;
        if (!root_from_name(reader.word(), key.root))
            return "protect reg needs a root: HKCR, HKCC, HKCU, HKLM or HKU";
        const std::string subkey(reader.rest());
        if (subkey.empty())
            return "protect reg needs a subkey";
        if (!helper_wire::utf8_to_utf16(subkey.c_str(), key.subkey))
            return "the subkey is not UTF-8";
        into.keys.push_back(key);
        return std::string();
    }
    return "protect needs service or reg";
}

std::string parse_line(std::string_view line, script& into)
{
    line_reader reader(line);
    const std::string_view directive = reader.word();
    if (directive.empty() || directive[0] == '#')
        return std::string();
    if (directive == "on")
        return parse_on(reader, into);
    if (directive == "protect")
        return parse_protect(reader, into);
    if (directive == "version")
        return parse_version(reader, into.version);
    const std::string_view per_connection = "version@";
    if (directive.substr(0, per_connection.size()) == per_connection) {
        unsigned connection = 0;
        if (!parse_number_as(directive.substr(per_connection.size()), connection) || connection == 0)
            return "version@N needs a connection number from 1";
        return parse_version(reader, into.version_for[connection]);
    }
    return "unknown directive '" + std::string(directive) + "'";
}

} // namespace

bool root_from_name(std::string_view name, std::uint64_t& root)
{
    const struct {
        const char* name;
        std::uint64_t value;
    } roots[] = {{"HKCR", hkey_classes_root}, {"HKCC", hkey_current_config}, {"HKCU", hkey_current_user},
                 {"HKLM", hkey_local_machine}, {"HKU", hkey_users}};
    for (const auto& each : roots) {
        if (name == each.name) {
            root = each.value;
            return true;
        }
    }
    return false;
}

version_reply script::version_of(unsigned connection) const
{
    const auto found = version_for.find(connection);
    return found == version_for.end() ? version : found->second;
}

const id_script* script::find(std::uint32_t id) const
{
    const auto found = on.find(id);
    return found == on.end() ? nullptr : &found->second;
}

script parse_script(std::string_view text)
{
    script parsed;
    unsigned number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const std::string error = parse_line(line, parsed);
        if (!error.empty())
            parsed.errors.push_back(script_error{number, error});
    }
    return parsed;
}

} // namespace protection_double
