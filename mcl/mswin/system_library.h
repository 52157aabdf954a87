// Libraries that are not KnownDLLs are loaded at run time from the system folder only: a static import, or a load
// by bare name, would take a copy planted beside the program (often Downloads or a share) and run it elevated.
#pragma once

#include "mcl/mswin/unique_resource.h"

namespace mcl::mswin {

// Called first thing by every program: from then on a library loaded by bare name, by the program or by a system
// library on its behalf, comes from the system folder only, never from the program's folder or the current one.
// Looked up at run time: Windows 7 without its loader update lacks it, and the program then runs as it always did.
void restrict_dll_search();

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
