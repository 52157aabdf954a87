// What the self-test cases share: standard output captured in a file, the SentinelOne object double
// registered for the test's lifetime, and a helper that answers only the protected-services query.
#pragma once

#include "helper/iovchelper.h"
#include "test_support.h"

#include <windows.h>

#include <string>
#include <vector>

namespace fltest {

// Standard output (file descriptor 1) goes to a temporary file until text() is called.
class captured_stdout {
public:
    captured_stdout();
    ~captured_stdout();
    captured_stdout(const captured_stdout&) = delete;
    captured_stdout& operator=(const captured_stdout&) = delete;
    // Restores standard output and returns what was written, "\r\n" as "\n".
    std::string text();

private:
    void restore();
    temp_folder folder_;
    std::wstring path_;
    int saved_ = -1;
};

// sentinel_double.dll registered under "SentinelHelper.1" through its own exports; unregistered again on
// destruction. `registered()` tells whether DllRegisterServer succeeded.
class sentinel_registration {
public:
    sentinel_registration();
    ~sentinel_registration();
    sentinel_registration(const sentinel_registration&) = delete;
    sentinel_registration& operator=(const sentinel_registration&) = delete;
    bool registered() const { return registered_; }

    // Removes a registration left behind by an earlier run.
    static void remove();

private:
    HMODULE module_ = nullptr;
    bool registered_ = false;
};

// A helper on which only query_protected_services works: it answers `records`, or fails when `answers` is
// false. Every other operation fails.
class query_only_helper final : public iovchelper {
public:
    bool answers = true;
    std::vector<protected_service> records;
    int queries = 0;

    bool query_protected_services(std::uint8_t log, std::vector<protected_service>& list) override;

    bool service_installed(std::string) override { return false; }
    bool service_stopped(std::string) override { return false; }
    bool connect(std::int32_t, std::string) override { return false; }
    bool send_test_message() override { return false; }
    bool protect_service(const char*, request_result*) override { return false; }
    bool protect_process(const char*, request_result*) override { return false; }
    bool protect_registry_key(std::uint64_t, const char*, const char*, request_result*) override { return false; }
    bool unprotect_service(const char*, request_result*) override { return false; }
    bool unprotect_process(const char*, request_result*) override { return false; }
    bool unprotect_registry_key(std::uint64_t, const char*, request_result*) override { return false; }
    bool protect_services(const std::vector<service_protection>&, request_result*) override { return false; }
    bool protect_processes(const std::vector<process_protection>&, request_result*) override { return false; }
    bool protect_registry_keys(const std::vector<registry_protection>&, request_result*) override { return false; }
    bool query_protected_processes(std::uint8_t, std::vector<protected_process>&) override { return false; }
    bool query_protected_registry_keys(std::uint8_t, std::vector<protected_registry_key>&) override
    {
        return false;
    }
    bool query_protected_folders(std::uint8_t, std::vector<protected_folder>&) override { return false; }
    bool pause_protection(request_result*) override { return false; }
    bool resume_protection(request_result*) override { return false; }
    bool set_e_switch(std::uint8_t, request_result*) override { return false; }
    bool set_d_switch(std::uint8_t, request_result*) override { return false; }
    bool wait_proto_compatible(std::int32_t, std::uint32_t) override { return false; }
    bool proto_compatible() override { return false; }
    std::uint32_t query_value_0a() override { return 0; }
    bool start_service(const service_start_params&, request_result*) override { return false; }
    bool stop_service(const char*, request_result*) override { return false; }
    bool recover_service_dacl(const char*, request_result*) override { return false; }
    bool name_request_69(const char*, request_result*) override { return false; }
    bool recover_registry_key_dacl(std::uint64_t, const char*, request_result*) override { return false; }
    bool switch_request_68(std::uint8_t, request_result*) override { return false; }
    bool create_quarantine_container(quarantine_container, request_result*) override { return false; }
    bool quarantine_file(const char*, const char*, request_result*) override { return false; }
    bool remove_quarantined_file(const char*, request_result*) override { return false; }
    bool restore_quarantined_file(const char*, request_result*) override { return false; }
    bool run_file_operation(file_operation, request_result*) override { return false; }
    bool run_container_operation(container_operation, request_result*) override { return false; }
    bool list_quarantined_files(const char*, std::vector<quarantined_file>&) override { return false; }
    bool list_quarantine_containers(std::vector<std::string>&) override { return false; }
    bool name_check_ce(const char*, request_result*) override { return false; }
    bool name_request_cf(const char*, request_result*) override { return false; }
    bool name_request_d0(const char*, request_result*) override { return false; }
    bool lists_request_d1(lists_request, request_result*) override { return false; }
    bool name_check_d2(const char*, request_result*) override { return false; }
    bool entry_request_own(const char*, const char*, std::uint8_t, std::uint8_t, std::uint32_t,
                           request_result*) override
    {
        return false;
    }
    bool entry_request(const char*, const char*, const char*, std::uint8_t, std::uint8_t, std::uint32_t,
                       request_result*) override
    {
        return false;
    }
    bool entry_request_alt_own(const char*, const char*, std::uint8_t, std::uint8_t, std::uint32_t,
                               request_result*) override
    {
        return false;
    }
    bool entry_request_alt(const char*, const char*, const char*, std::uint8_t, std::uint8_t, std::uint32_t,
                           request_result*) override
    {
        return false;
    }
    bool entry_list_own(std::vector<entry_record>&) override { return false; }
    bool entry_list(const char*, std::vector<entry_record>&) override { return false; }
};

} // namespace fltest
