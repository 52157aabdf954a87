#include "cleaner/steps/registry_data_installer_leftovers.h"

#include "cleaner/mechanisms/folder_tree.h"
#include "cleaner/mechanisms/open_file_delete.h"
#include "cleaner/run_log.h"
#include "footprint/cached_package.h"
#include "footprint/footprint.h"
#include "footprint/installer_folders.h"
#include "footprint/linkless_path.h"
#include "footprint/registry_probe.h"
#include "footprint/user_data.h"
#include "mcl/mswin/unique_resource.h"

namespace cleaner {

namespace {

// A cached file of the installer goes only from the Installer folder itself, and only as a plain file there.
void delete_cached_file(const char* kind, const std::wstring& path)
{
    if (path.empty())
        return;
    const std::string logged = wide_to_utf8(path);
    mcl::mswin::unique_handle file;
    DWORD error = ferrolink::open_cached_package(path, DELETE | FILE_WRITE_ATTRIBUTES, file);
    if (error == ERROR_FILE_NOT_FOUND)
        return;
    if (error == ERROR_BAD_PATHNAME) {
        log_line("\t%s [%s] left: not a plain file directly inside the Installer folder", kind, logged.c_str());
        return;
    }
    if (error == 0)
        error = delete_open_file(file.get());
    file.reset();
    if (error == 0)
        log_line("\t%s [%s] deleted.", kind, logged.c_str());
    else
        log_line("\t%s [%s] delete failed, lastError:%lu", kind, logged.c_str(), error);
}

// The patch's own registration: in the context's classes, then in its user data, which names its package.
bool delete_patch_keys(const installer_context& context, const std::wstring& patch)
{
    bool gone = true;
    for (const installer_root& root : context.roots)
        gone = delete_present_key(root.root, root.path + ferrolink::context_patches + patch,
                                  root.shown + ferrolink::context_patches + patch) &&
               gone;
    const std::wstring user_data = ferrolink::user_data_path(context.sid) + ferrolink::user_data_patches + patch;
    return delete_present_key(HKEY_LOCAL_MACHINE, user_data, L"HKLM\\" + user_data) && gone;
}

// A patch that another product still lists stays whole; one whose keys stay keeps its package.
bool delete_patch(const installer_context& context, const std::wstring& patch)
{
    const std::string logged = wide_to_utf8(patch);
    if (ferrolink::patch_still_applied(patch)) {
        log_line("\tPatch [%s] left: another product still uses it", logged.c_str());
        return true;
    }
    const std::wstring package = ferrolink::registered_patch_package(context.sid, patch);
    if (!delete_patch_keys(context, patch)) {
        log_line("\tPatch [%s] still registered, its package kept", logged.c_str());
        return false;
    }
    log_line("\tPatch [%s] deleted.", logged.c_str());
    delete_cached_file("Cached patch package", package);
    return true;
}

// Its icons and transforms; the folder is opened from its volume's root down, no link on the way.
void delete_product_folder(const ferrolink::product_codes& codes)
{
    const std::wstring folder = ferrolink::product_installer_folder(codes);
    ferrolink::held_item held;
    const DWORD opened = folder.empty() ? ERROR_PATH_NOT_FOUND : ferrolink::open_without_links(folder, held);
    if (opened == ERROR_FILE_NOT_FOUND || opened == ERROR_PATH_NOT_FOUND)
        return;
    const DWORD error = opened != 0 ? opened : delete_folder_tree(folder, held, in_use_files::fail);
    if (error == 0)
        log_line("\tInstaller folder [%s] deleted.", wide_to_utf8(folder).c_str());
    else
        log_line("\tInstaller folder [%s] delete failed, lastError:%lu", wide_to_utf8(folder).c_str(), error);
}

} // namespace

product_leftovers read_product_leftovers(const installer_context& context, const ferrolink::product_codes& codes)
{
    return {codes, ferrolink::registered_cached_package(context.sid, codes),
            ferrolink::product_patches(context.sid, codes.packed)};
}

bool delete_product_leftovers(const installer_context& context, const product_leftovers& product)
{
    bool all = true;
    for (const std::wstring& patch : product.patches)
        all = delete_patch(context, patch) && all;
    delete_cached_file("Cached package", product.cached_package);
    if (context.sid == ferrolink::machine_user_data_sid)
        delete_product_folder(product.codes);
    return all;
}

void keep_product_leftovers(const product_leftovers& product)
{
    if (!product.cached_package.empty())
        log_line("\tCached package [%s] kept: the product is still registered",
                 wide_to_utf8(product.cached_package).c_str());
}

void delete_folder_entries(const std::vector<std::wstring>& folders)
{
    const std::vector<std::wstring> entries = ferrolink::folder_entries_under(folders);
    if (entries.empty())
        return;
    mcl::mswin::unique_hkey key;
    const LONG opened =
        ferrolink::open_key_as_itself(HKEY_LOCAL_MACHINE, ferrolink::installer_folders_key, KEY_SET_VALUE, key);
    for (const std::wstring& entry : entries) {
        const LONG status = opened != ERROR_SUCCESS ? opened : ::RegDeleteValueW(key.get(), entry.c_str());
        if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND)
            log_line("\tInstaller folder entry [%s] deleted.", wide_to_utf8(entry).c_str());
        else
            log_line("\tInstaller folder entry [%s] delete failed, lastError:%lu", wide_to_utf8(entry).c_str(),
                     static_cast<DWORD>(status));
    }
}

} // namespace cleaner
