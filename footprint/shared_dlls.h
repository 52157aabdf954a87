// SharedDLLs: the reference counts that installers keep of shared files (value: the file's path; data: how many
// installations count on it), in the 64-bit and the 32-bit view.
#pragma once

#include <windows.h>

#include <string>

namespace ferrolink {

struct shared_dll_count {
    const wchar_t* key = nullptr;  // the SharedDLLs key holding the file's count; null when neither view does
    DWORD type = REG_NONE;
    DWORD count = 0;               // for a REG_DWORD count
};

// The file's count in the first view that holds one, the 64-bit view first. Only one view is ever answered, so
// that a key that both views share is never counted (or released) twice.
shared_dll_count find_shared_dll(const std::wstring& file);

// The component's key file, as its value for the product records it, when that is a file on a drive ("C:\...");
// empty for a registry key path ("02:\...") and for anything else.
std::wstring component_key_file(HKEY component, const std::wstring& packed_product);

} // namespace ferrolink
