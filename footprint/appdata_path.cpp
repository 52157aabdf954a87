#include "footprint/appdata_path.h"

namespace ferrolink {

namespace {

wchar_t lower(wchar_t c)
{
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool same_name(const std::wstring& a, const wchar_t* b)
{
    const std::wstring other = b;
    if (a.size() != other.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(other[i]))
            return false;
    }
    return true;
}

// The user's value of the variable `name`; false for one that only the user's logon (or nobody) defines.
bool variable_value(const std::wstring& name, const std::wstring& profile_folder, const std::wstring& windows_folder,
                    std::wstring& value)
{
    if (same_name(name, L"USERPROFILE"))
        value = profile_folder;
    else if (same_name(name, L"SystemRoot") || same_name(name, L"windir"))
        value = windows_folder;
    else if (same_name(name, L"SystemDrive") && windows_folder.size() >= 2 && windows_folder[1] == L':')
        value = windows_folder.substr(0, 2);
    else
        return false;
    return !value.empty();
}

bool expand(const std::wstring& value, const std::wstring& profile_folder, const std::wstring& windows_folder,
            std::wstring& expanded)
{
    for (size_t at = 0; at < value.size();) {
        const size_t open = value.find(L'%', at);
        const size_t close = open == std::wstring::npos ? open : value.find(L'%', open + 1);
        if (close == std::wstring::npos) {
            expanded += value.substr(at);
            return true;
        }
        expanded += value.substr(at, open - at);
        std::wstring variable;
        if (!variable_value(value.substr(open + 1, close - open - 1), profile_folder, windows_folder, variable))
            return false;
        expanded += variable;
        at = close + 1;
    }
    return true;
}

bool is_letter(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

appdata_kind kind_of(const std::wstring& path)
{
    if (path.size() >= 3 && is_letter(path[0]) && path[1] == L':' && path[2] == L'\\')
        return path.find(L':', 2) == std::wstring::npos ? appdata_kind::local : appdata_kind::unresolved;
    const bool device = path.compare(0, 4, L"\\\\?\\") == 0 || path.compare(0, 4, L"\\\\.\\") == 0;
    if (path.size() > 2 && path.compare(0, 2, L"\\\\") == 0 && !device)
        return appdata_kind::network;
    return appdata_kind::unresolved;
}

} // namespace

appdata_location resolve_appdata(const std::wstring& value, const std::wstring& profile_folder,
                                 const std::wstring& windows_folder)
{
    appdata_location location;
    location.path = value;
    std::wstring expanded;
    if (!expand(value, profile_folder, windows_folder, expanded))
        return location;
    while (expanded.size() > 3 && expanded.back() == L'\\')
        expanded.pop_back();
    location.kind = kind_of(expanded);
    if (location.kind != appdata_kind::unresolved)
        location.path = expanded;
    return location;
}

} // namespace ferrolink
