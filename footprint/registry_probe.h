// Registry keys and values looked at as the removal deletes them: a link is the link, never what it names.
#pragma once

#include "mcl/mswin/unique_resource.h"

#include <windows.h>

#include <string>

namespace ferrolink {

// Opens `path` below `root`; when that key is a link, the handle is on the link itself. Keys on the way to it
// are followed as usual (the Wow6432Node views are reached that way).
LONG open_key_as_itself(HKEY root, const std::wstring& path, REGSAM access, mcl::mswin::unique_hkey& key);

// ERROR_SUCCESS when the key is there (a link counts, whatever it names), ERROR_FILE_NOT_FOUND when it is not
// (or a key on the way is missing), else the error of the open (ERROR_ACCESS_DENIED: it is there, unreadable).
LONG probe_key(HKEY root, const std::wstring& path);

// Whether a key opened as itself is a registry link.
bool is_registry_link(HKEY key);

// Opens one of the Run keys (`run_keys`) as the key itself.
LONG open_run_key(const wchar_t* run_key, REGSAM access, mcl::mswin::unique_hkey& key);

// ERROR_SUCCESS when the Run key holds a value named exactly `name`, ERROR_FILE_NOT_FOUND when it does not (or
// there is no such Run key), else the error of opening it.
LONG probe_run_value(const wchar_t* run_key, const wchar_t* name);

// A string value with its environment variables expanded ("%SystemDrive%\\Users"): REG_SZ, or REG_EXPAND_SZ
// expanded; empty when there is none.
std::wstring expanded_value(HKEY key, const wchar_t* subkey, const wchar_t* name);

} // namespace ferrolink
