#include "cleaner/mechanisms/shared_dll_release.h"

#include "cleaner/run_log.h"
#include "footprint/registry_probe.h"
#include "footprint/shared_dlls.h"
#include "mcl/mswin/unique_resource.h"

#include <windows.h>

namespace cleaner {

namespace {

LONG write_count(HKEY key, const std::wstring& file, DWORD count)
{
    if (count == 0)
        return ::RegDeleteValueW(key, file.c_str());
    return ::RegSetValueExW(key, file.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), sizeof(count));
}

} // namespace

void release_shared_dll(const std::wstring& file)
{
    const ferrolink::shared_dll_count found = ferrolink::find_shared_dll(file);
    if (found.key == nullptr)
        return;
    const std::string logged = wide_to_utf8(file);
    if (found.type != REG_DWORD) {
        log_line("\tShared DLL count [%s] left: not a count", logged.c_str());
        return;
    }
    const DWORD left = found.count > 0 ? found.count - 1 : 0;
    mcl::mswin::unique_hkey key;
    LONG status = ferrolink::open_key_as_itself(HKEY_LOCAL_MACHINE, found.key, KEY_SET_VALUE, key);
    if (status == ERROR_SUCCESS)
        status = write_count(key.get(), file, left);
    if (status != ERROR_SUCCESS)
        log_line("\tShared DLL count [%s] release failed, lastError:%lu", logged.c_str(), static_cast<DWORD>(status));
    else if (left == 0)
        log_line("\tShared DLL count [%s] deleted.", logged.c_str());
    else
        log_line("\tShared DLL count [%s] released, %lu left.", logged.c_str(), left);
}

} // namespace cleaner
