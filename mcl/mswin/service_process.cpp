#include "mcl/mswin/service_process.h"

#include <cwchar>
#include <string>
#include <vector>

namespace mcl::mswin {

namespace {

DWORD process_id_of(SC_HANDLE service)
{
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (!::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                                &needed))
        return 0;
    return status.dwProcessId;
}

// The program of a service's command line: the quoted part, or what comes before the first blank.
std::wstring program_of(const wchar_t* command_line)
{
    if (command_line[0] == L'"') {
        const wchar_t* end = std::wcschr(command_line + 1, L'"');
        return end != nullptr ? std::wstring(command_line + 1, end) : std::wstring(command_line + 1);
    }
    const wchar_t* end = std::wcschr(command_line, L' ');
    return end != nullptr ? std::wstring(command_line, end) : std::wstring(command_line);
}

const wchar_t* file_name_of(const wchar_t* path)
{
    const wchar_t* name = path;
    for (const wchar_t* at = path; *at != 0; ++at) {
        if (*at == L'\\' || *at == L'/')
            name = at + 1;
    }
    return name;
}

bool service_program_name(SC_HANDLE service, std::wstring& name)
{
    DWORD needed = 0;
    ::QueryServiceConfigW(service, nullptr, 0, &needed);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0)
        return false;
    // Whole 64-bit units keep the record's pointers aligned.
    std::vector<ULONGLONG> raw((needed + sizeof(ULONGLONG) - 1) / sizeof(ULONGLONG));
    auto* record = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(raw.data());
    if (!::QueryServiceConfigW(service, record, needed, &needed) || record->lpBinaryPathName == nullptr)
        return false;
    name = file_name_of(program_of(record->lpBinaryPathName).c_str());
    return !name.empty();
}

bool runs_program(HANDLE process, const std::wstring& program_name)
{
    wchar_t path[MAX_PATH * 4] = {};
    DWORD length = static_cast<DWORD>(sizeof(path) / sizeof(path[0]));
    if (!::QueryFullProcessImageNameW(process, 0, path, &length))
        return false;
    return ::CompareStringOrdinal(file_name_of(path), -1, program_name.c_str(), -1, TRUE) == CSTR_EQUAL;
}

} // namespace

unique_handle open_service_process(SC_HANDLE service, DWORD access)
{
    const DWORD id = process_id_of(service);
    std::wstring program_name;
    if (id == 0 || !service_program_name(service, program_name))
        return unique_handle();
    unique_handle process(::OpenProcess(access | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    if (!process || !runs_program(process.get(), program_name))
        return unique_handle();
    return process;
}

} // namespace mcl::mswin
