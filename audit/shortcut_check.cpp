#include "audit/check_support.h"
#include "audit/checks.h"
#include "cleaner/footprint.h"

#include <shlobj.h>

namespace audit {

namespace {

const char kPart[] = "shortcuts";

// A shell folder the shell does not know cannot hold the item.
audit_item shell_item(const cleaner::footprint::shell_item& where)
{
    wchar_t folder[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, folder, where.csidl, FALSE) || folder[0] == L'\0')
        return absent_item(kPart, "CSIDL " + std::to_string(where.csidl) + utf8(where.suffix),
                           "no such shell folder");
    const std::wstring path = std::wstring(folder) + where.suffix;
    return path_item(kPart, utf8(path), path);
}

} // namespace

audit_items check_shortcuts()
{
    audit_items items = {shell_item(cleaner::footprint::program_group)};
    for (const cleaner::footprint::shell_item& file : cleaner::footprint::shortcut_files)
        items.push_back(shell_item(file));
    return items;
}

} // namespace audit
