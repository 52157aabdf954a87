#include "helper_cli/helper_command.h"

#include "helper_cli/connection_monitor.h"
#include "helper_cli/console_output.h"
#include "helper_cli/registry_roots.h"
#include "helper_cli/report_printers.h"
#include "helper_cli/self_tests.h"

#include <cstddef>
#include <string>
#include <vector>

namespace {

constexpr std::int32_t carried_out = -1;
constexpr std::int32_t usage_printed = -2;

const char command_failed[] = "Command failed.";

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whole-word comparison, ignoring ASCII letter case only.
bool same_word(const char* word, const char* expected)
{
    if (word == nullptr)
        return false;
    for (; *word != '\0' && *expected != '\0'; ++word, ++expected) {
        if (ascii_lower(*word) != ascii_lower(*expected))
            return false;
    }
    return *word == '\0' && *expected == '\0';
}

// The caller's word vector, read only. Entry 0, the program name, is never read; a word at or behind the
// null entry is missing. The count beside the vector is not trusted for this.
class word_list {
public:
    explicit word_list(const char* const* words) : words_(words) {}

    const char* at(std::size_t index) const
    {
        if (words_ == nullptr)
            return nullptr;
        for (std::size_t i = 1; i <= index; ++i) {
            if (words_[i] == nullptr)
                return nullptr;
        }
        return words_[index];
    }

    bool is(std::size_t index, const char* expected) const { return same_word(at(index), expected); }

    // The words from `index` up to the null entry.
    std::vector<std::string> from(std::size_t index) const
    {
        std::vector<std::string> rest;
        for (const char* word = at(index); word != nullptr; word = words_[++index])
            rest.emplace_back(word);
        return rest;
    }

private:
    const char* const* words_;
};

struct registry_operand {
    std::uint64_t root = 0;
    std::string subkey;
};

bool read_registry_key(const word_list& words, std::size_t index, registry_operand& key)
{
    return helper_cli::parse_registry_key(words.at(index), key.root, key.subkey);
}

std::int32_t usage()
{
    print_usage();
    return usage_printed;
}

// A null helper answers nothing: every call on it fails.
template <typename Call>
bool call(iovchelper* helper, Call&& method)
{
    return helper != nullptr && method(*helper);
}

// One call with a reply record. A helper writes the record only when a reply came, and a reply it reports as a
// failure always has ok clear; so a record whose ok is still set after a failed call was never written, and
// `answer` (when given) learns whether the service answered at all.
template <typename Call>
bool ask(iovchelper* helper, command_answer* answer, request_result& result, Call&& method)
{
    if (answer == nullptr)
        return call(helper, [&](iovchelper& h) { return method(h, result); });
    result.ok = 1;
    const bool done = call(helper, [&](iovchelper& h) { return method(h, result); });
    answer->answered = done || result.ok == 0;
    if (!answer->answered)
        result.ok = 0;
    answer->result = result;
    return done;
}

// One request with a reply record; the label and operand, then the service's message, when it fails.
template <typename Call>
std::int32_t request(iovchelper* helper, command_answer* answer, const char* label, const std::string& operand,
                     Call&& method)
{
    request_result result;
    const bool sent = ask(helper, answer, result, method);
    if (!sent || result.ok == 0) {
        helper_cli::write_line(label + operand);
        helper_cli::write_line(result.message);
    }
    return carried_out;
}

// A request whose outcome is not reported.
template <typename Call>
std::int32_t quiet_request(iovchelper* helper, command_answer* answer, Call&& method)
{
    request_result result;
    ask(helper, answer, result, method);
    return carried_out;
}

// A request without a reply record.
template <typename Call>
std::int32_t plain_request(iovchelper* helper, Call&& method)
{
    if (!call(helper, method))
        helper_cli::write_line(command_failed);
    return carried_out;
}

template <typename List, typename Call, typename Print>
std::int32_t list_request(iovchelper* helper, Call&& method, Print&& print)
{
    List list;
    if (!call(helper, [&](iovchelper& h) { return method(h, list); })) {
        helper_cli::write_line(command_failed);
        return carried_out;
    }
    print(list);
    return carried_out;
}

template <typename Record>
std::int32_t query(iovchelper* helper, bool (iovchelper::*method)(std::uint8_t, std::vector<Record>&),
                   std::uint8_t log, void (*print)(const std::vector<Record>&))
{
    return list_request<std::vector<Record>>(
        helper, [&](iovchelper& h, std::vector<Record>& list) { return (h.*method)(log, list); }, print);
}

std::int32_t self_test_option(iovchelper* helper, const word_list& words, command_answer*)
{
    if (words.is(2, "service")) {
        if (helper == nullptr) {
            helper_cli::write_line(command_failed);
            return carried_out;
        }
        run_self_tests(helper);
        return carried_out;
    }
    if (words.is(2, "process") || words.is(2, "folder"))
        return carried_out;
    return usage();
}

std::int32_t protect_option(iovchelper* helper, const word_list& words, command_answer* answer)
{
    const char* label = "Failed to protect : ";
    const char* operand = words.at(3);
    if (words.is(2, "service") && operand != nullptr)
        return request(helper, answer, label, operand,
                       [&](iovchelper& h, request_result& r) { return h.protect_service(operand, &r); });
    if (words.is(2, "process") && operand != nullptr)
        return request(helper, answer, label, operand,
                       [&](iovchelper& h, request_result& r) { return h.protect_process(operand, &r); });
    registry_operand key;
    const char* owner = words.at(4);
    if (words.is(2, "reg") && read_registry_key(words, 3, key) && owner != nullptr)
        return request(helper, answer, label, key.subkey, [&](iovchelper& h, request_result& r) {
            return h.protect_registry_key(key.root, key.subkey.c_str(), owner, &r);
        });
    return usage();
}

std::int32_t unprotect_option(iovchelper* helper, const word_list& words, command_answer* answer)
{
    const char* operand = words.at(3);
    if (words.is(2, "service") && operand != nullptr)
        return quiet_request(helper, answer,
                             [&](iovchelper& h, request_result& r) { return h.unprotect_service(operand, &r); });
    if (words.is(2, "process") && operand != nullptr)
        return request(helper, answer, "Failed to unprotect: ", operand,
                       [&](iovchelper& h, request_result& r) { return h.unprotect_process(operand, &r); });
    registry_operand key;
    if (words.is(2, "reg") && read_registry_key(words, 3, key))
        return quiet_request(helper, answer, [&](iovchelper& h, request_result& r) {
            return h.unprotect_registry_key(key.root, key.subkey.c_str(), &r);
        });
    return usage();
}

std::int32_t query_option(iovchelper* helper, const word_list& words, command_answer*)
{
    const std::uint8_t log = words.is(2, "-log") ? 1 : 0;
    const std::size_t kind = log != 0 ? 3 : 2;
    if (words.is(kind, "service"))
        return query(helper, &iovchelper::query_protected_services, log, helper_cli::print_protected_services);
    if (words.is(kind, "process"))
        return query(helper, &iovchelper::query_protected_processes, log, helper_cli::print_protected_processes);
    if (words.is(kind, "reg"))
        return query(helper, &iovchelper::query_protected_registry_keys, log,
                     helper_cli::print_protected_registry_keys);
    if (words.is(kind, "folder"))
        return query(helper, &iovchelper::query_protected_folders, log, helper_cli::print_protected_folders);
    return usage();
}

std::int32_t control_option(iovchelper* helper, const word_list& words, command_answer*)
{
    if (words.is(2, "pause"))
        return plain_request(helper, [](iovchelper& h) { return h.pause_protection(nullptr); });
    if (words.is(2, "resume"))
        return plain_request(helper, [](iovchelper& h) { return h.resume_protection(nullptr); });
    return usage();
}

std::int32_t switch_option(iovchelper* helper, const word_list& words,
                           bool (iovchelper::*method)(std::uint8_t, request_result*))
{
    if (words.is(2, "enable"))
        return plain_request(helper, [&](iovchelper& h) { return (h.*method)(1, nullptr); });
    if (words.is(2, "disable"))
        return plain_request(helper, [&](iovchelper& h) { return (h.*method)(0, nullptr); });
    return usage();
}

std::int32_t d_switch_option(iovchelper* helper, const word_list& words, command_answer*)
{
    return switch_option(helper, words, &iovchelper::set_d_switch);
}

std::int32_t e_switch_option(iovchelper* helper, const word_list& words, command_answer*)
{
    return switch_option(helper, words, &iovchelper::set_e_switch);
}

std::int32_t service_option(iovchelper* helper, const word_list& words, command_answer* answer)
{
    const char* name = words.at(3);
    if (words.is(2, "start") && name != nullptr) {
        const service_start_params params{name, words.from(4)};
        return request(helper, answer, "Failed to start service: ", name,
                       [&](iovchelper& h, request_result& r) { return h.start_service(params, &r); });
    }
    if (words.is(2, "stop") && name != nullptr)
        return request(helper, answer, "Failed to stop service: ", name,
                       [&](iovchelper& h, request_result& r) { return h.stop_service(name, &r); });
    return usage();
}

std::int32_t recover_option(iovchelper* helper, const word_list& words, command_answer* answer)
{
    const char* name = words.at(3);
    if (words.is(2, "service") && name != nullptr)
        return request(helper, answer, "Failed to recover DACL of service: ", name,
                       [&](iovchelper& h, request_result& r) { return h.recover_service_dacl(name, &r); });
    registry_operand key;
    if (words.is(2, "reg") && read_registry_key(words, 3, key))
        return request(helper, answer, "Failed to recover DACL of register key: ", key.subkey,
                       [&](iovchelper& h, request_result& r) {
                           return h.recover_registry_key_dacl(key.root, key.subkey.c_str(), &r);
                       });
    return usage();
}

std::int32_t quarantine(iovchelper* helper, const word_list& words, command_answer* answer)
{
    const char* container = words.at(3);
    const char* file = words.at(4);
    if (container == nullptr || file == nullptr)
        return usage();
    return request(helper, answer, command_failed, "", [&](iovchelper& h, request_result& r) {
        if (!h.create_quarantine_container({container, {}}, &r))
            return false;
        // The message printed on failure must be the second call's, not the creation's. Only the message is
        // cleared: the flag the creation's reply set tells whether the second call wrote the record.
        r.message.clear();
        return h.quarantine_file(container, file, &r);
    });
}

// "restore" and "remove": a whole container, or one file.
std::int32_t container_or_file(iovchelper* helper, const word_list& words, command_answer* answer,
                               std::int32_t container_code,
                               bool (iovchelper::*file_method)(const char*, request_result*))
{
    if (words.is(3, "container")) {
        const char* container = words.at(4);
        if (container == nullptr)
            return usage();
        return request(helper, answer, command_failed, "", [&](iovchelper& h, request_result& r) {
            return h.run_container_operation({container_code, container}, &r);
        });
    }
    const char* file = words.at(3);
    if (file == nullptr)
        return usage();
    return request(helper, answer, command_failed, "",
                   [&](iovchelper& h, request_result& r) { return (h.*file_method)(file, &r); });
}

std::int32_t list_option(iovchelper* helper, const word_list& words)
{
    if (words.is(3, "containers"))
        return list_request<std::vector<std::string>>(
            helper, [](iovchelper& h, std::vector<std::string>& names) { return h.list_quarantine_containers(names); },
            helper_cli::print_quarantine_containers);
    const char* container = words.at(3);
    if (container == nullptr)
        return usage();
    return list_request<std::vector<quarantined_file>>(
        helper,
        [&](iovchelper& h, std::vector<quarantined_file>& files) { return h.list_quarantined_files(container, files); },
        [&](const std::vector<quarantined_file>& files) { helper_cli::print_quarantined_files(files, container); });
}

std::int32_t file_option(iovchelper* helper, const word_list& words, command_answer* answer)
{
    if (words.at(2) == nullptr)
        return usage();
    if (words.is(2, "quarantine"))
        return quarantine(helper, words, answer);
    if (words.is(2, "restore"))
        return container_or_file(helper, words, answer, 2, &iovchelper::restore_quarantined_file);
    if (words.is(2, "remove"))
        return container_or_file(helper, words, answer, 1, &iovchelper::remove_quarantined_file);
    if (words.is(2, "list"))
        return list_option(helper, words);
    return carried_out;
}

std::int32_t test_message_option(iovchelper* helper, const word_list&, command_answer*)
{
    call(helper, [](iovchelper& h) { return h.send_test_message(); });
    return carried_out;
}

std::int32_t monitor_option(iovchelper* helper, const word_list&, command_answer*)
{
    helper_cli::monitor_connection_forever(helper);
    return carried_out;
}

std::int32_t help_option(iovchelper*, const word_list&, command_answer*)
{
    print_usage();
    return carried_out;
}

struct option_row {
    const char* word;
    std::int32_t (*run)(iovchelper* helper, const word_list& words, command_answer* answer);
};

// Tested in this order; the first match decides.
const option_row options[] = {
    {"-ut", self_test_option}, {"-p", protect_option},    {"-u", unprotect_option},
    {"-q", query_option},      {"-c", control_option},    {"-d", d_switch_option},
    {"-e", e_switch_option},   {"-s", service_option},    {"-r", recover_option},
    {"-f", file_option},       {"-t", test_message_option}, {"-m", monitor_option},
    {"-h", help_option},
};

} // namespace

std::int32_t run_helper_command(iovchelper* helper, std::int32_t, const char* const* words, command_answer* answer)
{
    const word_list list(words);
    for (const option_row& option : options) {
        if (list.is(1, option.word))
            return option.run(helper, list, answer);
    }
    return usage();
}

void print_usage()
{
    static const char* const lines[] = {
        "client helper CLI for Windows - Version 1.1",
        "Copyright (C) 2026 Orvane. All rights reserved.",
        "",
        "Usage:",
        "This is tool only useful to uninstall Ferrolink",
        "",
    };
    for (const char* line : lines)
        helper_cli::write_line(line);
}
