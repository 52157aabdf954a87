#include "audit/run_context.h"

#include "audit/check_support.h"
#include "mcl/mswin/process_user.h"

#include <cstdio>
#include <vector>

namespace audit {

namespace {

std::string host_name()
{
    DWORD characters = 0;
    ::GetComputerNameExW(ComputerNameDnsHostname, nullptr, &characters);
    if (characters == 0)
        return std::string();
    std::wstring name(characters, L'\0');
    if (!::GetComputerNameExW(ComputerNameDnsHostname, &name[0], &characters))
        return std::string();
    name.resize(characters);
    return wide_to_utf8(name);
}

std::string utc_now()
{
    SYSTEMTIME now = {};
    ::GetSystemTime(&now);
    char text[32] = {};
    std::snprintf(text, sizeof(text), "%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
    return text;
}

// "DOMAIN\name" as the account database names the SID; the SID itself when it names none.
std::string account_name(PSID sid)
{
    wchar_t name[256] = {};
    wchar_t domain[256] = {};
    DWORD name_length = 256;
    DWORD domain_length = 256;
    SID_NAME_USE use = SidTypeUnknown;
    if (::LookupAccountSidW(nullptr, sid, name, &name_length, domain, &domain_length, &use))
        return wide_to_utf8(domain_length > 0 ? std::wstring(domain) + L"\\" + name : std::wstring(name));
    return wide_to_utf8(mcl::mswin::sid_text(sid));
}

std::string process_account()
{
    std::vector<unsigned char> user = mcl::mswin::process_user_sid();
    return user.empty() ? std::string() : account_name(user.data());
}

} // namespace

audit_context current_context()
{
    audit_context context;
    context.computer = host_name();
    context.account = process_account();
    context.elevated = running_elevated();
    context.time = utc_now();
    return context;
}

} // namespace audit
