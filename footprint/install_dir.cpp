#include "footprint/install_dir.h"

#include "footprint/footprint.h"
#include "footprint/shell_paths.h"
#include "mcl/mswin/unique_resource.h"

#include <cstring>

namespace ferrolink {

namespace {

const DWORD kInstallDirBytes = 1024;
const int kInstallDirUnits = static_cast<int>(kInstallDirBytes / sizeof(wchar_t));

bool is_string_type(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// A value of any other type holds bytes, which have always been taken as text of the active code page; they
// still are, converted exactly (narrow to wide loses nothing). False when they hold no terminated text.
bool bytes_as_text(const BYTE* bytes, wchar_t* text, int units)
{
    const void* end = std::memchr(bytes, 0, kInstallDirBytes);
    if (end == nullptr)
        return false;
    const int length = static_cast<int>(static_cast<const BYTE*>(end) - bytes) + 1;
    return ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(bytes), length, text,
                                 units) != 0;
}

void check_value(const wchar_t* value, registered_install_dir& found)
{
    if (is_string_type(found.type)) {
        found.verdict = check_install_dir(value, kInstallDirUnits, found.folder, &found.checked);
        return;
    }
    BYTE bytes[kInstallDirBytes] = {};
    std::memcpy(bytes, value, kInstallDirBytes);
    wchar_t text[kInstallDirUnits] = {};
    found.verdict = bytes_as_text(bytes, text, kInstallDirUnits)
                        ? check_install_dir(text, kInstallDirUnits, found.folder, &found.checked)
                        : install_dir_verdict::unterminated;
}

} // namespace

// The value is read wide, as stored: a narrow read would turn characters the code page lacks into
// lookalikes ("\uFF0E\uFF0E\uFF3C" into "..\\") before the path is checked and deleted.
namespace {

// The 32-bit view is named by its own path, read in the 64-bit view, as the registry cleanup names it.
registered_install_dir read_install_dir_from(const wchar_t* install_key_path, const wchar_t* product_key_path)
{
    registered_install_dir found;
    found.key = install_key_path;
    found.product_key = product_key_path;
    mcl::mswin::unique_hkey key;
    found.status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, install_key_path, 0, KEY_READ | KEY_WOW64_64KEY, key.put());
    if (found.status != ERROR_SUCCESS)
        return found;
    wchar_t value[kInstallDirUnits] = {};
    DWORD size = kInstallDirBytes;
    found.status = ::RegQueryValueExW(key.get(), install_dir_value, nullptr, &found.type,
                                      reinterpret_cast<BYTE*>(value), &size);
    if (found.status == ERROR_SUCCESS)
        check_value(value, found);
    return found;
}

} // namespace

registered_install_dir read_install_dir()
{
    registered_install_dir found = read_install_dir_from(install_key, client_keys[0].path);
    if (found.status != ERROR_FILE_NOT_FOUND)
        return found;
    registered_install_dir found_32 = read_install_dir_from(install_key_32, product_key_32);
    // Where neither view has one, the 64-bit view is the one reported.
    if (found_32.status == ERROR_FILE_NOT_FOUND)
        return found;
    return found_32;
}

DWORD default_install_dir(std::wstring& folder)
{
    return path_in_shell_folder(default_install_csidl, default_install_suffix, folder);
}

} // namespace ferrolink
