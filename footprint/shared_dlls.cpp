#include "footprint/shared_dlls.h"

#include "footprint/footprint.h"
#include "footprint/registry_probe.h"
#include "mcl/mswin/unique_resource.h"

#include <cwchar>

namespace ferrolink {

namespace {

const DWORD kPathBytes = 2048;

bool is_drive_path(const std::wstring& path)
{
    const wchar_t drive = path.size() > 3 ? path[0] : L'\0';
    const bool letter = (drive >= L'A' && drive <= L'Z') || (drive >= L'a' && drive <= L'z');
    return letter && path[1] == L':' && path[2] == L'\\';
}

} // namespace

shared_dll_count find_shared_dll(const std::wstring& file)
{
    for (const wchar_t* path : shared_dlls_keys) {
        mcl::mswin::unique_hkey key;
        if (open_key_as_itself(HKEY_LOCAL_MACHINE, path, KEY_QUERY_VALUE, key) != ERROR_SUCCESS)
            continue;
        shared_dll_count found;
        DWORD size = sizeof(found.count);
        const LONG status = ::RegQueryValueExW(key.get(), file.c_str(), nullptr, &found.type,
                                               reinterpret_cast<BYTE*>(&found.count), &size);
        if (status == ERROR_FILE_NOT_FOUND)
            continue;
        found.key = path;
        if (status != ERROR_SUCCESS || found.type != REG_DWORD || size != sizeof(found.count))
            found.count = 0;
        return found;
    }
    return shared_dll_count();
}

std::wstring component_key_file(HKEY component, const std::wstring& packed_product)
{
    wchar_t text[kPathBytes / sizeof(wchar_t) + 1] = {};
    DWORD size = kPathBytes;
    DWORD type = REG_NONE;
    if (::RegQueryValueExW(component, packed_product.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text),
                           &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return std::wstring();
    const std::wstring path(text, ::wcsnlen(text, size / sizeof(wchar_t)));
    return is_drive_path(path) ? path : std::wstring();
}

} // namespace ferrolink
