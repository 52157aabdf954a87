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

// "HKLM", "HKCU", "HKCR".
const char* root_name(HKEY root);

// Whether the key exists: opened for reading, or refused (which only a found key can be), present; not found
// (the key or a key above it), absent; else unchecked.
audit_item key_item(const char* part, const std::string& label, HKEY root, const std::wstring& path);

// Whether a file or folder exists at a local path: present, absent (it or a folder above it missing), or
// unchecked with the error; pending restart when it, and everything in a folder, is registered for deletion at
// restart.
audit_item path_item(const char* part, const std::string& label, const std::wstring& path);

// Whether all that is left of the product key (row 1) is its saved connection profiles and the keys on their
// path: what an unattended run keeps on purpose.
bool only_saved_profiles_left();

} // namespace audit
