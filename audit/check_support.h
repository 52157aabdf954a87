// What the part checks share: items made from what Windows answered, text for the report, key lookups.
#pragma once

#include "audit/audit_report.h"
#include "mcl/mswin/utf.h"

#include <windows.h>

#include <string>

namespace audit {

// Wide Windows text goes into the report as UTF-8.
using mcl::mswin::wide_to_utf8;

// Whether this process runs with administrator rights (an elevated token).
bool running_elevated();

audit_item present_item(const char* part, const std::string& name, const std::string& detail = std::string());
audit_item absent_item(const char* part, const std::string& name, const std::string& detail = std::string());
// Something Windows deletes at the next restart: shown, never counted as the client's leftover.
audit_item pending_restart_item(const char* part, const std::string& name, const std::string& detail = std::string());
// An item that could not be checked; refused access marks it as one only an administrator can read.
audit_item unchecked_item(const char* part, const std::string& name, DWORD error);

// "HKLM", "HKCU", "HKCR", "HKU".
const char* root_name(HKEY root);

// Whether the key exists, opened as the cleaner opens it: a link is the link, present whatever it names. Opened
// for reading, or refused (which only a found key can be), present; not found (the key or a key above it),
// absent; else unchecked.
audit_item key_item(const char* part, const std::string& label, HKEY root, const std::wstring& path);

// How many keys one check may visit: a tree that grows without end must not hold the audit. What is left
// unvisited leaves the check unchecked (or, for the saved profiles, counted).
const unsigned long kKeysPerCheck = 200000;
// The error of a check that ran out of keys to visit.
const DWORD kTooManyKeys = ERROR_NOT_ENOUGH_QUOTA;

class key_budget {
public:
    explicit key_budget(unsigned long keys = kKeysPerCheck) : left_(keys) {}
    // False once the budget is spent.
    bool take()
    {
        if (left_ == 0)
            return false;
        --left_;
        return true;
    }

private:
    unsigned long left_;
};

// Whether a file or folder exists at a local path: present, absent (it or a folder above it missing), or
// unchecked with the error; pending restart when it, and everything in a folder, is registered for deletion at
// restart.
audit_item path_item(const char* part, const std::string& label, const std::wstring& path);

// Whether all that is left of the product key (row 1, or `product_key` in HKLM, its 32-bit view) is its saved
// connection profiles and the keys on their path: what an unattended run keeps on purpose. Keys are opened as
// themselves, so a link there is something else left.
bool only_saved_profiles_left();
bool only_saved_profiles_left(const wchar_t* product_key);

} // namespace audit
