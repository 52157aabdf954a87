// What the fake client's parts share: names of where this program lives, and text conversion.
#pragma once

#include <windows.h>

#include <string>

namespace fake_client {

// The folder of the running program (the build's bin folder, where test_service.exe lies too).
std::wstring program_folder();

// Active code page <-> UTF-16, for the narrow Windows calls.
std::string to_narrow(const std::wstring& text);
std::wstring to_wide(const std::string& text);

// A shell folder (CSIDL), or empty when the shell has none.
std::wstring shell_folder(int csidl);

// Creates `folder` and every missing folder above it. 0 or the error code.
DWORD create_folders(const std::wstring& folder);

} // namespace fake_client
