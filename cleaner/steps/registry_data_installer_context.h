// Step 6: where Windows Installer registers a product in one context (per machine, or per user), and deleting a key there
// that may lie in a hive its user can write.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace cleaner {

// A key below which a context registers its Products, Features, UpgradeCodes and Patches.
struct installer_root {
    HKEY root;
    std::wstring path;   // ends with a backslash
    std::wstring shown;  // how the log names root and path
};

struct installer_context {
    std::wstring sid;  // its user data: "S-1-5-18" for the machine, else the user's SID
    std::vector<installer_root> roots;
};

// The machine's context: the machine's classes, then their merged view.
installer_context machine_context();

// Deletes `path` below `root`, reached one key at a time and each opened as itself: a link on the way leads
// nowhere, so nothing is deleted through it; a link at the end goes as the link. Silent when the key is not
// there; else the deleter's lines, and the row line when it stays. Below HKEY_USERS (a user's own hive) the
// deletion is bounded as a user's client key is. True when the key is gone.
bool delete_present_key(HKEY root, const std::wstring& path, const std::wstring& shown);

// The row line for a key that stays.
void log_key_left(const std::wstring& shown);

} // namespace cleaner
