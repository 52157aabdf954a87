#include "pending_renames.h"

#include "mcl/mswin/unique_resource.h"

#include <cwchar>
#include <vector>

namespace fake_client {

namespace {

const wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kValue[] = L"PendingFileRenameOperations";

// Whether the NT path `source` ("\??\" + a Win32 path) is `path` or below it, ignoring case.
bool at_or_below(const std::wstring& source, const std::wstring& path)
{
    const std::wstring prefix = L"\\??\\" + path;
    if (source.size() < prefix.size() || ::_wcsnicmp(source.c_str(), prefix.c_str(), prefix.size()) != 0)
        return false;
    return source.size() == prefix.size() || source[prefix.size()] == L'\\';
}

std::wstring next_string(const std::wstring& text, size_t& at)
{
    const size_t end = text.find(L'\0', at);
    const std::wstring found = text.substr(at, end == std::wstring::npos ? std::wstring::npos : end - at);
    at = end == std::wstring::npos ? text.size() : end + 1;
    return found;
}

} // namespace

DWORD forget_pending_renames(const std::wstring& path)
{
    mcl::mswin::unique_hkey key;
    LONG status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.put());
    if (status != ERROR_SUCCESS)
        return static_cast<DWORD>(status);
    DWORD bytes = 0;
    status = ::RegQueryValueExW(key.get(), kValue, nullptr, nullptr, nullptr, &bytes);
    if (status == ERROR_FILE_NOT_FOUND)
        return 0;
    std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
    if (status == ERROR_SUCCESS)
        status = ::RegQueryValueExW(key.get(), kValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&text[0]), &bytes);
    if (status != ERROR_SUCCESS)
        return static_cast<DWORD>(status);
    text.resize(bytes / sizeof(wchar_t));
    std::wstring kept;
    for (size_t at = 0; at < text.size();) {
        const std::wstring source = next_string(text, at);
        if (source.empty())
            break;
        const std::wstring target = next_string(text, at);
        if (!at_or_below(source, path))
            kept += source + L'\0' + target + L'\0';
    }
    if (kept.empty())
        return static_cast<DWORD>(::RegDeleteValueW(key.get(), kValue));
    kept += L'\0';
    return static_cast<DWORD>(::RegSetValueExW(key.get(), kValue, 0, REG_MULTI_SZ,
                                               reinterpret_cast<const BYTE*>(kept.c_str()),
                                               static_cast<DWORD>(kept.size() * sizeof(wchar_t))));
}

} // namespace fake_client
