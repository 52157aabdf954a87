#include "cleaner/steps/registry_data_installer_context.h"

#include "cleaner/mechanisms/registry_tree.h"
#include "cleaner/run_log.h"
#include "cleaner/steps/registry_data_other_users.h"
#include "footprint/footprint.h"
#include "footprint/registry_probe.h"
#include "mcl/mswin/unique_resource.h"

namespace cleaner {

namespace {

using mcl::mswin::unique_hkey;

// Opens the parent of the last key of `path`, one key at a time as itself; `leaf` gets the last key's name.
// ERROR_FILE_NOT_FOUND also when a key on the way is a link: what a link leads to is not this context's.
LONG open_parent(HKEY root, const std::wstring& path, unique_hkey& parent, std::wstring& leaf)
{
    HKEY at = root;
    size_t start = 0;
    for (size_t end = path.find(L'\\'); end != std::wstring::npos; end = path.find(L'\\', start)) {
        unique_hkey next;
        const LONG opened = ferrolink::open_key_as_itself(at, path.substr(start, end - start), KEY_READ, next);
        if (opened != ERROR_SUCCESS)
            return opened;
        if (ferrolink::is_registry_link(next.get()))
            return ERROR_FILE_NOT_FOUND;
        parent = std::move(next);
        at = parent.get();
        start = end + 1;
    }
    leaf = path.substr(start);
    if (!parent || leaf.empty())
        return ERROR_INVALID_PARAMETER;
    return ERROR_SUCCESS;
}

} // namespace

installer_context machine_context()
{
    const std::wstring classes = std::wstring(ferrolink::machine_classes) + L"Installer\\";
    return {ferrolink::machine_user_data_sid,
            {{HKEY_LOCAL_MACHINE, classes, L"HKLM\\" + classes},
             {HKEY_CLASSES_ROOT, L"Installer\\", L"HKCR\\Installer\\"}}};
}

void log_key_left(const std::wstring& shown)
{
    log_line("\t[%s] still under protection or not exist, can not delete.", wide_to_utf8(shown).c_str());
}

bool delete_present_key(HKEY root, const std::wstring& path, const std::wstring& shown)
{
    unique_hkey parent;
    std::wstring leaf;
    LONG status = open_parent(root, path, parent, leaf);
    if (status == ERROR_SUCCESS) {
        unique_hkey key;
        status = ferrolink::open_key_as_itself(parent.get(), leaf, KEY_QUERY_VALUE, key);
    }
    if (status == ERROR_FILE_NOT_FOUND)
        return true;
    // A user can keep adding subkeys to a key in their own hive for as long as its deletion runs.
    deletion_bound bound(kUserKeyMostKeys, kUserKeyMostMs);
    deletion_bound* const user_bound = root == HKEY_USERS ? &bound : nullptr;
    if (status == ERROR_SUCCESS && delete_registry_subtree(parent.get(), leaf, shown, false, user_bound))
        return true;
    if (status != ERROR_SUCCESS)
        log_delete_failure(shown, static_cast<DWORD>(status));
    if (bound.reached())
        log_line("\t[%s] unfinished after %lu keys (bound: %lu keys or %lu s)", wide_to_utf8(shown).c_str(),
                 bound.keys_taken(), kUserKeyMostKeys, kUserKeyMostMs / 1000);
    log_key_left(shown);
    return false;
}

} // namespace cleaner
