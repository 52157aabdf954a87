#include "double_control.h"

#include "mcl/mswin/error_text.h"
#include "mcl/mswin/service_process.h"
#include "mcl/mswin/unique_resource.h"
#include "mcl/mswin/utf.h"

#include <windows.h>

#include <cstdio>

namespace protection_double {

namespace {

using mcl::mswin::unique_handle;
using mcl::mswin::unique_schandle;

constexpr DWORD poll_ms = 50;

void explain(std::string* why, const std::string& what, DWORD error)
{
    if (why == nullptr)
        return;
    std::string text = mcl::mswin::error_text(error);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    *why = what + " (error " + std::to_string(error) + ": " + text + ")";
}

// Service names end up inside a quoted command line and a pipe name.
bool acceptable_name(const std::string& name)
{
    return !name.empty() && name.size() <= 200 && name.find_first_of("\"\\/") == std::string::npos;
}

unique_schandle open_service(const std::string& name, DWORD access, std::string* why)
{
    const unique_schandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        explain(why, "cannot open the service control manager", ::GetLastError());
        return unique_schandle();
    }
    unique_schandle service(::OpenServiceW(manager.get(), mcl::mswin::utf8_to_wide(name).c_str(), access));
    if (!service)
        explain(why, "cannot open the service " + name, ::GetLastError());
    return service;
}

DWORD state_of(SC_HANDLE service)
{
    SERVICE_STATUS status = {};
    return ::QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
}

bool wait_for_state(SC_HANDLE service, DWORD state)
{
    for (DWORD waited = 0;; waited += poll_ms) {
        if (state_of(service) == state)
            return true;
        if (waited >= state_wait_ms)
            return false;
        ::Sleep(poll_ms);
    }
}

// Wine's manager keeps reporting a service whose process died as running; the process tells the truth.
bool process_ended(SC_HANDLE service)
{
    const unique_handle process = mcl::mswin::open_service_process(service, SYNCHRONIZE);
    return !process || ::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
}

void end_process_of(SC_HANDLE service)
{
    const unique_handle process = mcl::mswin::open_service_process(service, PROCESS_TERMINATE | SYNCHRONIZE);
    if (!process)
        return;
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), 5000);
}

bool stop_service(SC_HANDLE service, const std::string& name, std::string* why)
{
    const DWORD state = state_of(service);
    if (state == SERVICE_STOPPED || process_ended(service))
        return true;
    SERVICE_STATUS status = {};
    if (state != SERVICE_STOP_PENDING && !::ControlService(service, SERVICE_CONTROL_STOP, &status)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_SERVICE_NOT_ACTIVE)
            return true;
        explain(why, "cannot stop the service " + name, error);
        return false;
    }
    if (wait_for_state(service, SERVICE_STOPPED))
        return true;
    explain(why, "the service " + name + " did not stop in time", ERROR_TIMEOUT);
    return false;
}

// A pipe pair of the double waits for a client. After a crash Wine reports the restarted service as running
// at once, before its new process listens; this tells when it does.
bool wait_for_listener(const std::string& name)
{
    const std::wstring pipe = L"\\\\.\\pipe\\" + mcl::mswin::utf8_to_wide(name) + L"_INBOND";
    for (DWORD waited = 0;; waited += poll_ms) {
        if (::WaitNamedPipeW(pipe.c_str(), poll_ms))
            return true;
        if (waited >= state_wait_ms)
            return false;
        ::Sleep(poll_ms);
    }
}

std::wstring quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

} // namespace

std::string exe_path()
{
    wchar_t path[MAX_PATH * 2] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    if (length == 0 || length >= MAX_PATH * 2)
        return std::string();
    std::wstring folder(path, length);
    folder.erase(folder.find_last_of(L'\\') + 1);
    return mcl::mswin::wide_to_utf8(folder + L"protection_service.exe");
}

std::string work_folder()
{
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH)
        return std::string();
    const std::wstring folder = std::wstring(temp, length) + L"protection_double";
    if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        return std::string();
    return mcl::mswin::wide_to_utf8(folder);
}

bool install(const std::string& name, const std::string& script_path, const std::string& log_path, bool auto_start,
             std::string* why)
{
    if (!acceptable_name(name)) {
        explain(why, "the name '" + name + "' cannot be a service name", ERROR_INVALID_NAME);
        return false;
    }
    const std::wstring wide_name = mcl::mswin::utf8_to_wide(name);
    const std::wstring command = quoted(mcl::mswin::utf8_to_wide(exe_path())) + L" service " + quoted(wide_name) +
                                 L" --script " + quoted(mcl::mswin::utf8_to_wide(script_path)) + L" --log " +
                                 quoted(mcl::mswin::utf8_to_wide(log_path));
    const unique_schandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!manager) {
        explain(why, "cannot open the service control manager", ::GetLastError());
        return false;
    }
    const unique_schandle service(::CreateServiceW(manager.get(), wide_name.c_str(), wide_name.c_str(),
                                                   SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                                   auto_start ? SERVICE_AUTO_START : SERVICE_DEMAND_START,
                                                   SERVICE_ERROR_IGNORE, command.c_str(), nullptr, nullptr, nullptr,
                                                   nullptr, nullptr));
    if (!service) {
        explain(why, "cannot create the service " + name, ::GetLastError());
        return false;
    }
    return true;
}

bool uninstall(const std::string& name, std::string* why)
{
    const unique_schandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        explain(why, "cannot open the service control manager", ::GetLastError());
        return false;
    }
    const unique_schandle service(::OpenServiceW(manager.get(), mcl::mswin::utf8_to_wide(name).c_str(),
                                                 SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG | DELETE));
    if (!service) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_SERVICE_DOES_NOT_EXIST)
            return true;
        explain(why, "cannot open the service " + name, error);
        return false;
    }
    if (!stop_service(service.get(), name, nullptr))
        end_process_of(service.get());
    if (::DeleteService(service.get()) || ::GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE)
        return true;
    explain(why, "cannot delete the service " + name, ::GetLastError());
    return false;
}

bool start(const std::string& name, std::string* why)
{
    const unique_schandle service = open_service(name, SERVICE_START | SERVICE_QUERY_STATUS, why);
    if (!service)
        return false;
    if (!::StartServiceW(service.get(), 0, nullptr) && ::GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
        explain(why, "cannot start the service " + name, ::GetLastError());
        return false;
    }
    if (wait_for_state(service.get(), SERVICE_RUNNING) && wait_for_listener(name))
        return true;
    explain(why, "the service " + name + " did not reach the running state and listen", ERROR_TIMEOUT);
    return false;
}

bool stop(const std::string& name, std::string* why)
{
    const DWORD access = SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG;
    const unique_schandle service = open_service(name, access, why);
    return service && stop_service(service.get(), name, why);
}

bool is_running(const std::string& name)
{
    const unique_schandle service = open_service(name, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG, nullptr);
    return service && state_of(service.get()) == SERVICE_RUNNING && !process_ended(service.get());
}

bool write_text_file(const std::string& path, const std::string& text)
{
    const mcl::mswin::unique_file file(::_wfopen(mcl::mswin::utf8_to_wide(path).c_str(), L"wb"));
    if (!file)
        return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
    return std::fflush(file.get()) == 0 && written;
}

std::vector<std::string> read_lines(const std::string& path)
{
    std::vector<std::string> lines;
    const mcl::mswin::unique_file file(::_wfopen(mcl::mswin::utf8_to_wide(path).c_str(), L"rb"));
    if (!file)
        return lines;
    std::string text;
    char chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
        text.append(chunk, got);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

} // namespace protection_double
