// Libraries that are not KnownDLLs are loaded at run time from the system folder only: a static import, or a load
// by bare name, would take a copy planted beside the program (often Downloads or a share) and run it elevated.
#pragma once

#include "mcl/mswin/unique_resource.h"

namespace mcl::mswin {

// `name` (a bare file name such as L"msi.dll") from the system folder and nowhere else; empty on failure, with
// the error in GetLastError.
unique_hmodule load_system_library(const wchar_t* name);

// The exported function `name` of `module` as a pointer of the type `Function`, or null.
template <typename Function>
Function system_function(HMODULE module, const char* name)
{
    if (module == nullptr)
        return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

} // namespace mcl::mswin
