#include "footprint/process_image.h"

#include <windows.h>

#include <cwchar>

namespace ferrolink {

bool same_image_name(const wchar_t* running, const wchar_t* image)
{
    return ::CompareStringOrdinal(running, -1, image, -1, TRUE) == CSTR_EQUAL;
}

bool image_path_has_name(const wchar_t* path, const wchar_t* image)
{
    const wchar_t* separator = std::wcsrchr(path, L'\\');
    return same_image_name(separator != nullptr ? separator + 1 : path, image);
}

} // namespace ferrolink
