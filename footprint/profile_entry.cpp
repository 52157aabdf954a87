#include "footprint/profile_entry.h"

namespace ferrolink {

namespace {

const wchar_t kSidStart[] = L"S-1-";
const wchar_t kBackupSuffix[] = L".bak";
const wchar_t* const kServiceSids[] = {L"S-1-5-18", L"S-1-5-19", L"S-1-5-20"};

bool is_digit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

wchar_t lower(wchar_t c)
{
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool ends_with_ignoring_case(const std::wstring& text, const std::wstring& suffix)
{
    if (text.size() < suffix.size())
        return false;
    const size_t start = text.size() - suffix.size();
    for (size_t i = 0; i < suffix.size(); ++i) {
        if (lower(text[start + i]) != lower(suffix[i]))
            return false;
    }
    return true;
}

// "S-1-" and then at least two groups of digits, each group behind one dash: the identifier authority and at
// least one sub-authority.
bool is_sid(const std::wstring& name)
{
    const std::wstring start = kSidStart;
    if (name.compare(0, start.size(), start) != 0)
        return false;
    size_t groups = 0;
    for (size_t at = start.size() - 1; at < name.size();) {
        if (name[at] != L'-' || at + 1 >= name.size() || !is_digit(name[at + 1]))
            return false;
        for (++at; at < name.size() && is_digit(name[at]);)
            ++at;
        ++groups;
    }
    return groups >= 2;
}

bool is_service_sid(const std::wstring& name)
{
    for (const wchar_t* sid : kServiceSids) {
        if (name == sid)
            return true;
    }
    return false;
}

} // namespace

profile_skip profile_entry_skip(const std::wstring& name, unsigned long state)
{
    if (ends_with_ignoring_case(name, kBackupSuffix))
        return profile_skip::backup_entry;
    if (!is_sid(name))
        return profile_skip::not_a_sid;
    if (is_service_sid(name))
        return profile_skip::service_account;
    if (state & kProfileStateBackup)
        return profile_skip::backup_profile;
    if (state & kProfileStateTemporary)
        return profile_skip::temporary_profile;
    return profile_skip::none;
}

const char* profile_skip_reason(profile_skip skip)
{
    switch (skip) {
    case profile_skip::none:
        return "";
    case profile_skip::not_a_sid:
        return "not a SID";
    case profile_skip::service_account:
        return "a service account";
    case profile_skip::backup_entry:
        return "a backup entry (.bak)";
    case profile_skip::temporary_profile:
        return "a temporary profile (State 0x800)";
    case profile_skip::backup_profile:
        return "a backup profile (State 0x8000)";
    }
    return "";
}

} // namespace ferrolink
