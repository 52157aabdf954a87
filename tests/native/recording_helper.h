// A client helper that answers from a script and records every call with its arguments as one line of
// text, e.g. "protect_registry_key(0xFFFFFFFF80000002,SOFTWARE\A,owner,result)".
#pragma once

#include "helper/iovchelper.h"

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

// What one call answers: its return value and, when `writes_result`, the result it hands back.
struct scripted_answer {
    bool returns = true;
    std::uint8_t ok = 1;
    std::string message;
    bool writes_result = true;
};

class recording_helper final : public iovchelper {
public:
    std::vector<std::string> calls;
    // Consumed one per call, in order; once empty every call answers `fallback`.
    std::deque<scripted_answer> answers;
    scripted_answer fallback;

    // Appended to the caller's list by a query that answers true.
    std::vector<protected_service> services;
    std::vector<protected_process> processes;
    std::vector<protected_registry_key> registry_keys;
    std::vector<protected_folder> folders;
    std::vector<quarantined_file> files;
    std::vector<std::string> containers;
    std::vector<entry_record> entries;

    bool service_installed(std::string name) override { return plain("service_installed", {name}); }
    bool service_stopped(std::string name) override { return plain("service_stopped", {name}); }
    bool connect(std::int32_t timeout_ms, std::string name) override
    {
        return plain("connect", {std::to_string(timeout_ms), name});
    }
    bool send_test_message() override { return plain("send_test_message", {}); }
    bool protect_service(const char* name, request_result* result) override
    {
        return with_result("protect_service", {text(name)}, result);
    }
    bool protect_process(const char* path, request_result* result) override
    {
        return with_result("protect_process", {text(path)}, result);
    }
    bool protect_registry_key(std::uint64_t root, const char* subkey, const char* owner,
                              request_result* result) override
    {
        return with_result("protect_registry_key", {hex(root), text(subkey), text(owner)}, result);
    }
    bool unprotect_service(const char* name, request_result* result) override
    {
        return with_result("unprotect_service", {text(name)}, result);
    }
    bool unprotect_process(const char* path, request_result* result) override
    {
        return with_result("unprotect_process", {text(path)}, result);
    }
    bool unprotect_registry_key(std::uint64_t root, const char* subkey, request_result* result) override
    {
        return with_result("unprotect_registry_key", {hex(root), text(subkey)}, result);
    }
    bool protect_services(const std::vector<service_protection>& records, request_result* result) override
    {
        return with_result("protect_services", {std::to_string(records.size())}, result);
    }
    bool protect_processes(const std::vector<process_protection>& records, request_result* result) override
    {
        return with_result("protect_processes", {std::to_string(records.size())}, result);
    }
    bool protect_registry_keys(const std::vector<registry_protection>& records, request_result* result) override
    {
        return with_result("protect_registry_keys", {std::to_string(records.size())}, result);
    }
    bool query_protected_services(std::uint8_t log, std::vector<protected_service>& list) override
    {
        return listing("query_protected_services", {std::to_string(log)}, services, list);
    }
    bool query_protected_processes(std::uint8_t log, std::vector<protected_process>& list) override
    {
        return listing("query_protected_processes", {std::to_string(log)}, processes, list);
    }
    bool query_protected_registry_keys(std::uint8_t log, std::vector<protected_registry_key>& list) override
    {
        return listing("query_protected_registry_keys", {std::to_string(log)}, registry_keys, list);
    }
    bool query_protected_folders(std::uint8_t log, std::vector<protected_folder>& list) override
    {
        return listing("query_protected_folders", {std::to_string(log)}, folders, list);
    }
    bool pause_protection(request_result* result) override { return with_result("pause_protection", {}, result); }
    bool resume_protection(request_result* result) override { return with_result("resume_protection", {}, result); }
    bool set_e_switch(std::uint8_t on, request_result* result) override
    {
        return with_result("set_e_switch", {std::to_string(on)}, result);
    }
    bool set_d_switch(std::uint8_t on, request_result* result) override
    {
        return with_result("set_d_switch", {std::to_string(on)}, result);
    }
    bool wait_proto_compatible(std::int32_t retries, std::uint32_t pause_seconds) override
    {
        return plain("wait_proto_compatible", {std::to_string(retries), std::to_string(pause_seconds)});
    }
    bool proto_compatible() override { return plain("proto_compatible", {}); }
    std::uint32_t query_value_0a() override { return plain("query_value_0a", {}) ? 1 : 0; }
    bool start_service(const service_start_params& params, request_result* result) override
    {
        return with_result("start_service", {params.service_name, join(params.arguments)}, result);
    }
    bool stop_service(const char* name, request_result* result) override
    {
        return with_result("stop_service", {text(name)}, result);
    }
    bool recover_service_dacl(const char* name, request_result* result) override
    {
        return with_result("recover_service_dacl", {text(name)}, result);
    }
    bool name_request_69(const char* name, request_result* result) override
    {
        return with_result("name_request_69", {text(name)}, result);
    }
    bool recover_registry_key_dacl(std::uint64_t root, const char* subkey, request_result* result) override
    {
        return with_result("recover_registry_key_dacl", {hex(root), text(subkey)}, result);
    }
    bool switch_request_68(std::uint8_t on, request_result* result) override
    {
        return with_result("switch_request_68", {std::to_string(on)}, result);
    }
    bool create_quarantine_container(quarantine_container container, request_result* result) override
    {
        return with_result("create_quarantine_container", {container.container_name, join(container.files)},
                           result);
    }
    bool quarantine_file(const char* container, const char* path, request_result* result) override
    {
        return with_result("quarantine_file", {text(container), text(path)}, result);
    }
    bool remove_quarantined_file(const char* path, request_result* result) override
    {
        return with_result("remove_quarantined_file", {text(path)}, result);
    }
    bool restore_quarantined_file(const char* path, request_result* result) override
    {
        return with_result("restore_quarantined_file", {text(path)}, result);
    }
    bool run_file_operation(file_operation operation, request_result* result) override
    {
        return with_result("run_file_operation",
                           {std::to_string(operation.operation), operation.folder, join(operation.paths)}, result);
    }
    bool run_container_operation(container_operation operation, request_result* result) override
    {
        return with_result("run_container_operation",
                           {std::to_string(operation.operation), operation.container_name}, result);
    }
    bool list_quarantined_files(const char* container, std::vector<quarantined_file>& list) override
    {
        return listing("list_quarantined_files", {text(container)}, files, list);
    }
    bool list_quarantine_containers(std::vector<std::string>& names) override
    {
        return listing("list_quarantine_containers", {}, containers, names);
    }
    bool name_check_ce(const char* name, request_result* result) override
    {
        return with_result("name_check_ce", {text(name)}, result);
    }
    bool name_request_cf(const char* name, request_result* result) override
    {
        return with_result("name_request_cf", {text(name)}, result);
    }
    bool name_request_d0(const char* name, request_result* result) override
    {
        return with_result("name_request_d0", {text(name)}, result);
    }
    bool lists_request_d1(lists_request request, request_result* result) override
    {
        return with_result("lists_request_d1",
                           {std::to_string(request.code), join(request.first), join(request.second)}, result);
    }
    bool name_check_d2(const char* name, request_result* result) override
    {
        return with_result("name_check_d2", {text(name)}, result);
    }
    bool entry_request_own(const char* second_text, const char* third_text, std::uint8_t flag_a, std::uint8_t flag_b,
                           std::uint32_t number, request_result* result) override
    {
        return with_result("entry_request_own",
                           entry_arguments(nullptr, second_text, third_text, flag_a, flag_b, number), result);
    }
    bool entry_request(const char* name, const char* second_text, const char* third_text, std::uint8_t flag_a,
                       std::uint8_t flag_b, std::uint32_t number, request_result* result) override
    {
        return with_result("entry_request", entry_arguments(name, second_text, third_text, flag_a, flag_b, number),
                           result);
    }
    bool entry_request_alt_own(const char* second_text, const char* third_text, std::uint8_t flag_a,
                               std::uint8_t flag_b, std::uint32_t number, request_result* result) override
    {
        return with_result("entry_request_alt_own",
                           entry_arguments(nullptr, second_text, third_text, flag_a, flag_b, number), result);
    }
    bool entry_request_alt(const char* name, const char* second_text, const char* third_text, std::uint8_t flag_a,
                           std::uint8_t flag_b, std::uint32_t number, request_result* result) override
    {
        return with_result("entry_request_alt", entry_arguments(name, second_text, third_text, flag_a, flag_b, number),
                           result);
    }
    bool entry_list_own(std::vector<entry_record>& list) override
    {
        return listing("entry_list_own", {}, entries, list);
    }
    bool entry_list(const char* name, std::vector<entry_record>& list) override
    {
        return listing("entry_list", {text(name)}, entries, list);
    }

private:
    static std::string text(const char* value) { return value != nullptr ? value : "(null)"; }

    static std::string hex(std::uint64_t value)
    {
        char digits[24];
        std::snprintf(digits, sizeof digits, "0x%llX", static_cast<unsigned long long>(value));
        return digits;
    }

    static std::string join(const std::vector<std::string>& items)
    {
        std::string joined = "[";
        for (std::size_t i = 0; i < items.size(); ++i)
            joined += (i == 0 ? "" : "|") + items[i];
        return joined + "]";
    }

    static std::vector<std::string> entry_arguments(const char* name, const char* second, const char* third,
                                                    std::uint8_t flag_a, std::uint8_t flag_b, std::uint32_t number)
    {
        std::vector<std::string> arguments;
        if (name != nullptr)
            arguments.push_back(name);
        for (const std::string& argument : {text(second), text(third), std::to_string(flag_a), std::to_string(flag_b),
                                            std::to_string(number)})
            arguments.push_back(argument);
        return arguments;
    }

    scripted_answer next(const char* operation, std::vector<std::string> arguments, const char* last)
    {
        std::string call = std::string(operation) + "(";
        for (const std::string& argument : arguments)
            call += argument + ",";
        if (last != nullptr)
            call += last;
        else if (!arguments.empty())
            call.pop_back();
        calls.push_back(call + ")");
        if (answers.empty())
            return fallback;
        scripted_answer answer = answers.front();
        answers.pop_front();
        return answer;
    }

    bool plain(const char* operation, std::vector<std::string> arguments)
    {
        return next(operation, std::move(arguments), nullptr).returns;
    }

    // The last argument shows whether the caller asked for the result ("result") or not ("null").
    bool with_result(const char* operation, std::vector<std::string> arguments, request_result* result)
    {
        const scripted_answer answer = next(operation, std::move(arguments), result != nullptr ? "result" : "null");
        if (result != nullptr && answer.writes_result) {
            result->ok = answer.ok;
            result->message = answer.message;
        }
        return answer.returns;
    }

    template <typename Record>
    bool listing(const char* operation, std::vector<std::string> arguments, const std::vector<Record>& records,
                 std::vector<Record>& list)
    {
        const bool returns = next(operation, std::move(arguments), nullptr).returns;
        if (returns)
            list.insert(list.end(), records.begin(), records.end());
        return returns;
    }
};
