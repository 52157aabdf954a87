#include "mcl/mswin/system_library.h"

namespace mcl::mswin {

unique_hmodule load_system_library(const wchar_t* name)
{
    return unique_hmodule(::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
}

} // namespace mcl::mswin
