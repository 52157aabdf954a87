#include "footprint/pending_restart.h"

#include "mcl/mswin/unique_resource.h"

namespace ferrolink {

namespace {

using mcl::mswin::unique_hkey;

const wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t* const kRenameValues[] = {L"PendingFileRenameOperations", L"PendingFileRenameOperations2"};
const wchar_t kServicesKey[] = L"SYSTEM\\CurrentControlSet\\Services\\";
const wchar_t kDosDevicesPrefix[] = L"\\??\\";
const wchar_t kUncPrefix[] = L"\\??\\UNC\\";

bool starts_with(const std::wstring& text, const wchar_t* prefix)
{
    return text.compare(0, std::char_traits<wchar_t>::length(prefix), prefix) == 0;
}

std::wstring win32_path(const std::wstring& nt_path)
{
    if (starts_with(nt_path, kUncPrefix))
        return L"\\\\" + nt_path.substr(std::char_traits<wchar_t>::length(kUncPrefix));
    if (starts_with(nt_path, kDosDevicesPrefix))
        return nt_path.substr(std::char_traits<wchar_t>::length(kDosDevicesPrefix));
    return nt_path;
}

// The next string from `at` up to a terminator or the end of the text; `at` moves behind it.
std::wstring next_string(const wchar_t* text, size_t characters, size_t& at)
{
    const size_t begin = at;
    while (at < characters && text[at] != L'\0')
        ++at;
    const std::wstring found(text + begin, at - begin);
    if (at < characters)
        ++at;
    return found;
}

// The value as text, whatever it holds; empty when it is missing or unreadable. Windows Installer and other
// programs add to the value at any time: one that grew between the size and the read is read again.
std::wstring value_text(HKEY key, const wchar_t* name)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD bytes = 0;
        if (::RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &bytes) != ERROR_SUCCESS || bytes == 0)
            return std::wstring();
        std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
        const LONG read =
            ::RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&text[0]), &bytes);
        if (read == ERROR_MORE_DATA)
            continue;
        if (read != ERROR_SUCCESS)
            return std::wstring();
        text.resize(bytes / sizeof(wchar_t));
        return text;
    }
    return std::wstring();
}

} // namespace

std::vector<std::wstring> deletions_in(const wchar_t* text, size_t characters)
{
    std::vector<std::wstring> deletions;
    for (size_t at = 0; at < characters;) {
        const std::wstring source = next_string(text, characters, at);
        if (source.empty())
            break;
        if (next_string(text, characters, at).empty())
            deletions.push_back(win32_path(source));
    }
    return deletions;
}

std::vector<std::wstring> paths_pending_deletion()
{
    std::vector<std::wstring> pending;
    unique_hkey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return pending;
    for (const wchar_t* name : kRenameValues) {
        const std::wstring text = value_text(key.get(), name);
        for (std::wstring& path : deletions_in(text.data(), text.size()))
            pending.push_back(std::move(path));
    }
    return pending;
}

bool is_pending_deletion(const std::wstring& path, const std::vector<std::wstring>& pending)
{
    for (const std::wstring& entry : pending) {
        if (::CompareStringOrdinal(entry.c_str(), static_cast<int>(entry.size()), path.c_str(),
                                   static_cast<int>(path.size()), TRUE) == CSTR_EQUAL)
            return true;
    }
    return false;
}

bool service_marked_for_deletion(const wchar_t* name)
{
    unique_hkey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kServicesKey) + name).c_str(), 0, KEY_QUERY_VALUE,
                        key.put()) != ERROR_SUCCESS)
        return false;
    DWORD flag = 0;
    DWORD bytes = sizeof(flag);
    DWORD type = REG_NONE;
    return ::RegQueryValueExW(key.get(), L"DeleteFlag", nullptr, &type, reinterpret_cast<BYTE*>(&flag), &bytes) ==
               ERROR_SUCCESS &&
           type == REG_DWORD && flag != 0;
}

} // namespace ferrolink
