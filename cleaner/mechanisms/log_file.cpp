#include "cleaner/mechanisms/log_file.h"

#include "cleaner/mechanisms/account_trust.h"
#include "cleaner/run_log.h"
#include "mcl/mswin/system_library.h"
#include "mcl/mswin/unique_resource.h"

#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <shlobj.h>

#include <cstdint>
#include <string>
#include <utility>

namespace cleaner {

namespace {

using mcl::mswin::unique_handle;
using mcl::mswin::unique_hlocal;

const wchar_t kLogName[] = L"Ferrolink Cleaner Log.txt";
const wchar_t kLogStem[] = L"Ferrolink Cleaner Log";
constexpr int kLastNumber = 99;

// Written to, and asked about its kind, links and owner; never read.
constexpr DWORD kLogAccess = GENERIC_WRITE | READ_CONTROL | FILE_READ_ATTRIBUTES;
constexpr DWORD kLogSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

using temp_path_function = DWORD(WINAPI*)(DWORD, LPWSTR);

// GetTempPath2W where Windows has it (Windows 11; Windows 10 and Server 2016 with later updates): for SYSTEM it
// gives C:\Windows\SystemTemp, which no other account can write to, so nobody can take the log's names there.
// For any other account it answers as GetTempPathW, which is taken where it is missing.
temp_path_function temp_path()
{
    const auto newer = mcl::mswin::system_function<temp_path_function>(::GetModuleHandleW(L"kernel32.dll"),
                                                                        "GetTempPath2W");
    return newer != nullptr ? newer : &::GetTempPathW;
}

// Folder (with its trailing backslash) that holds the log in automatic mode.
std::wstring automatic_log_folder()
{
    wchar_t folder[MAX_PATH] = {};
    const DWORD length = temp_path()(MAX_PATH, folder);
    if (length != 0 && length < MAX_PATH)
        return folder;
    if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)))
        return std::wstring(folder) + L"\\";
    return L"C:\\WINDOWS\\Temp\\";
}

std::wstring numbered_name(int number)
{
    if (number == 1)
        return kLogName;
    return std::wstring(kLogStem) + L" (" + std::to_wstring(number) + L").txt";
}

bool owner_trusted(HANDLE file)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                          &descriptor) != ERROR_SUCCESS)
        return false;
    const unique_hlocal held(descriptor);
    return trusted_log_owner(owner);
}

// A planted folder, a second name of another file (a hard link), a link elsewhere, or a file some user made
// and can still write to: none of them is written to.
bool trustworthy(HANDLE file)
{
    if (::GetFileType(file) != FILE_TYPE_DISK)
        return false;
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!::GetFileInformationByHandle(file, &info))
        return false;
    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
        return false;
    return info.nNumberOfLinks == 1 && owner_trusted(file);
}

// A new file under `path`, or the existing one when it can be trusted; checked on the handle that is then
// written to, so nothing can be swapped in between. No link is followed.
unique_handle open_log_name(const std::wstring& path)
{
    unique_handle file(::CreateFileW(path.c_str(), kLogAccess, kLogSharing, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (file)
        return file;
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
        return unique_handle();
    file.reset(::CreateFileW(path.c_str(), kLogAccess, kLogSharing, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (file && !trustworthy(file.get()))
        file.reset();
    return file;
}

// The stream takes the handle over: closing the stream closes it.
FILE* append_stream(unique_handle file)
{
    const int descriptor = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(file.get()), _O_APPEND | _O_TEXT);
    if (descriptor == -1)
        return nullptr;
    file.release();
    FILE* stream = ::_fdopen(descriptor, "a");
    if (stream == nullptr)
        ::_close(descriptor);
    return stream;
}

// The first of the log's names in `folder` (empty: the current folder) that is free or can be trusted; a
// numbered one is announced on the console.
FILE* open_numbered_log(const std::wstring& folder)
{
    for (int number = 1; number <= kLastNumber; ++number) {
        const std::wstring path = folder + numbered_name(number);
        unique_handle file = open_log_name(path);
        if (!file)
            continue;
        FILE* stream = append_stream(std::move(file));
        if (stream != nullptr && number != 1)
            console_line("Log file: %s", wide_to_utf8(path).c_str());
        return stream;
    }
    return nullptr;
}

} // namespace

bool trusted_log_owner(PSID owner)
{
    if (owner == nullptr || !::IsValidSid(owner))
        return false;
    return ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || ::IsWellKnownSid(owner, WinLocalSystemSid) ||
           is_run_account(owner);
}

FILE* open_run_log(bool automatic)
{
    return open_numbered_log(automatic ? automatic_log_folder() : std::wstring());
}

} // namespace cleaner
