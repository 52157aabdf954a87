#include "mcl/mswin/system_library.h"

namespace mcl::mswin {

void restrict_dll_search()
{
    using set_default_dll_directories = BOOL(WINAPI*)(DWORD);
    const auto restrict_to = system_function<set_default_dll_directories>(::GetModuleHandleW(L"kernel32.dll"),
                                                                          "SetDefaultDllDirectories");
    if (restrict_to != nullptr)
        restrict_to(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

unique_hmodule load_system_library(const wchar_t* name)
{
    return unique_hmodule(::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
}

} // namespace mcl::mswin
