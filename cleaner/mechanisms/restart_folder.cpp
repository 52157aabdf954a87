#include "cleaner/mechanisms/restart_folder.h"

#include "cleaner/mechanisms/file_disposal.h"
#include "cleaner/mechanisms/folder_protection.h"
#include "footprint/linkless_path.h"
#include "mcl/mswin/unique_resource.h"

#include <sddl.h>

#include <cstring>
#include <cwchar>
#include <iterator>
#include <vector>

namespace cleaner {

const wchar_t kRestartFolderName[] = L"FerrolinkCleaner.Pending";

namespace {

// Owner Administrators; SYSTEM and Administrators only, nothing inherited from the root.
const wchar_t kRestartFolderSecurity[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
const int kNameAttempts = 16;

DWORD create_restart_folder(const std::wstring& folder)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kRestartFolderSecurity, SDDL_REVISION_1, &descriptor,
                                                                nullptr))
        return ::GetLastError();
    const mcl::mswin::unique_hlocal held(descriptor);
    SECURITY_ATTRIBUTES security = {sizeof(security), descriptor, FALSE};
    if (::CreateDirectoryW(folder.c_str(), &security))
        return 0;
    const DWORD error = ::GetLastError();
    return error == ERROR_ALREADY_EXISTS ? 0 : error;
}

// Process, moment and a counter: unique on the volume, and never a name someone could have chosen for us.
std::wstring unique_name()
{
    static unsigned counter = 0;
    LARGE_INTEGER now = {};
    ::QueryPerformanceCounter(&now);
    wchar_t name[64] = {};
    std::swprintf(name, 64, L"FL%08lX-%016llX-%u.tmp", ::GetCurrentProcessId(),
                  static_cast<unsigned long long>(now.QuadPart), ++counter);
    return name;
}

// A rename by the open handle: the file moved is the one that was checked, whatever its old path holds now.
DWORD rename_to(HANDLE file, const std::wstring& target)
{
    const size_t bytes = target.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + bytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(bytes);
    std::memcpy(rename->FileName, target.c_str(), bytes);
    return ::SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(buffer.size()))
               ? 0
               : ::GetLastError();
}

DWORD rename_uniquely(HANDLE file, const std::wstring& folder, std::wstring& moved)
{
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        moved = folder + L"\\" + unique_name();
        const DWORD error = rename_to(file, moved);
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
            return error;
    }
    return ERROR_FILE_EXISTS;
}

} // namespace

DWORD move_out_for_restart(HANDLE file, const std::wstring& path, bool& moved)
{
    moved = false;
    std::wstring root;
    std::vector<std::wstring> components;
    if (!ferrolink::split_volume_path(path, root, components))
        return ERROR_BAD_PATHNAME;
    // Nothing on a share or a mapped drive is deleted while Windows starts, before the network is up: no folder is
    // made there.
    if (on_network_volume(path))
        return ERROR_NOT_SUPPORTED;
    const std::wstring folder = root + kRestartFolderName;
    const DWORD created = create_restart_folder(folder);
    if (created != 0)
        return created;
    if (!protected_all_the_way(folder))
        return ERROR_ACCESS_DENIED;
    std::wstring target;
    const DWORD error = rename_uniquely(file, folder, target);
    if (error != 0)
        return error;
    moved = true;
    const DWORD scheduled = delete_at_restart(target);
    if (scheduled != 0)
        return scheduled;
    // Empty by then, it goes too; a later run before the restart registers it again behind its own files.
    // Should this fail, an empty protected folder is all that stays.
    delete_at_restart(folder);
    return 0;
}

} // namespace cleaner
