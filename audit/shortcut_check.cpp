#include "audit/check_support.h"
#include "audit/checks.h"
#include "footprint/footprint.h"
#include "footprint/shell_paths.h"

#include <iterator>

namespace audit {

namespace {

const char kPart[] = "shortcuts";
// The ids of the shortcut files, in their order.
const char* const kFileIds[] = {"shortcut:start_menu", "shortcut:quick_launch", "shortcut:desktop"};
static_assert(std::size(kFileIds) == std::size(ferrolink::shortcut_files), "one id per shortcut file");

// The path as step 7 forms it. A shell folder the shell does not know cannot hold the item; a path that does not
// fit MAX_PATH is one step 7 refuses to use, and fails on.
audit_item shell_item(const ferrolink::shell_item& where)
{
    std::wstring path;
    const DWORD error = ferrolink::path_in_shell_folder(where.csidl, where.suffix, path);
    if (error == ERROR_PATH_NOT_FOUND)
        return absent_item(kPart, "CSIDL " + std::to_string(where.csidl) + wide_to_utf8(where.suffix),
                           "no such shell folder");
    if (error != 0)
        return unchecked_item(kPart, wide_to_utf8(path), error);
    return path_item(kPart, wide_to_utf8(path), path);
}

} // namespace

audit_items check_shortcuts()
{
    audit_items items = {shell_item(ferrolink::program_group)};
    items.back().id = "shortcut:program_group";
    for (size_t i = 0; i < std::size(ferrolink::shortcut_files); ++i) {
        items.push_back(shell_item(ferrolink::shortcut_files[i]));
        items.back().id = kFileIds[i];
    }
    return items;
}

} // namespace audit
