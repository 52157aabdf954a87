#include "audit/check_support.h"
#include "audit/checks.h"
#include "footprint/footprint.h"
#include "footprint/install_dir.h"

namespace audit {

namespace {

const char kPart[] = "install folder";

// The registered value as the removal reads it: wide, 1024 bytes, any type taken as text.
audit_item install_dir_item(const ferrolink::registered_install_dir& registered)
{
    const std::string label = "InstallDir in HKLM\\" + wide_to_utf8(registered.key);
    if (registered.status == ERROR_FILE_NOT_FOUND)
        return absent_item(kPart, label);
    if (registered.status == ERROR_MORE_DATA)
        return present_item(kPart, label, "longer than the cleaner reads");
    if (registered.status != ERROR_SUCCESS)
        return unchecked_item(kPart, label, static_cast<DWORD>(registered.status));
    if (registered.folder.empty())
        return present_item(kPart, label, "not text");
    return present_item(kPart, label, wide_to_utf8(registered.folder));
}

// Only a local absolute folder is looked at: a registered share name would send this read-only check out on
// the network, and stream or device syntax could name something that is no folder.
bool local_absolute_folder(const std::wstring& folder)
{
    if (folder.size() < 4 || folder.size() >= MAX_PATH)
        return false;
    const wchar_t drive = folder[0];
    const bool letter = (drive >= L'A' && drive <= L'Z') || (drive >= L'a' && drive <= L'z');
    return letter && folder[1] == L':' && folder[2] == L'\\' && folder.find(L':', 2) == std::wstring::npos &&
           folder.find(L'/') == std::wstring::npos;
}

// A folder the guard refuses is never deleted, so whatever is there is not the client's to count: it is
// shown with the reason, and the cleaner turns to the default folder instead.
audit_item registered_folder_item(const ferrolink::registered_install_dir& registered)
{
    const std::string label = "registered folder " + wide_to_utf8(registered.folder);
    const bool local = local_absolute_folder(registered.folder);
    if (registered.usable())
        return local ? path_item(kPart, label, registered.folder) : unchecked_item(kPart, label, ERROR_BAD_PATHNAME);
    audit_item refused = local ? path_item(kPart, label, registered.folder) : present_item(kPart, label);
    refused.detail = ferrolink::refusal_text(registered.verdict);
    refused.counted = false;
    return refused;
}

audit_item default_folder_item()
{
    std::wstring folder;
    if (ferrolink::default_install_dir(folder) != 0)
        return unchecked_item(kPart, "default folder", ERROR_PATH_NOT_FOUND);
    return path_item(kPart, "default folder " + wide_to_utf8(folder), folder);
}

} // namespace

audit_item check_folder(const std::wstring& folder)
{
    audit_item item = local_absolute_folder(folder) ? path_item(kPart, "folder " + wide_to_utf8(folder), folder)
                                                    : unchecked_item(kPart, "folder " + wide_to_utf8(folder),
                                                                     ERROR_BAD_PATHNAME);
    item.id = "install_folder:folder:" + wide_to_utf8(folder);
    return item;
}

audit_items check_install_folder()
{
    const ferrolink::registered_install_dir registered = ferrolink::read_install_dir();
    audit_items items = {install_dir_item(registered)};
    // The value sits in a key on the profiles' path, which an unattended run keeps whole.
    audit_item& install_dir = items.front();
    install_dir.id = "install_folder:install_dir";
    if (install_dir.state == item_state::present && only_saved_profiles_left(registered.product_key)) {
        install_dir.detail += (install_dir.detail.empty() ? "" : ", ") + std::string("kept with the saved profiles");
        install_dir.counted = false;
    }
    if (registered.read() && !registered.folder.empty()) {
        items.push_back(registered_folder_item(registered));
        items.back().id = "install_folder:registered";
    }
    items.push_back(default_folder_item());
    items.back().id = "install_folder:default";
    return items;
}

} // namespace audit
