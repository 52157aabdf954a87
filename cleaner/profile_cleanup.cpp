#include "cleaner/profile_cleanup.h"

#include "cleaner/open_file_delete.h"
#include "cleaner/registry_tree.h"
#include "cleaner/run_log.h"
#include "footprint/footprint.h"
#include "footprint/registry_probe.h"
#include "footprint/folder_entry.h"
#include "footprint/user_profiles.h"
#include "mcl/mswin/unique_resource.h"

#include <string>

namespace cleaner {

namespace {

using ferrolink::user_profile;
using mcl::mswin::unique_handle;
using mcl::mswin::unique_hkey;

const wchar_t kTemporaryHivePrefix[] = L"FerrolinkCleaner_";

// What was done in one profile, written as one line once the profile is done, and only if anything was found:
// "\tUser profile <SID>: key [...] deleted." or "...: key [...] failed, lastError:<n>", parts joined by ", ".
class profile_line {
public:
    explicit profile_line(const std::wstring& sid) : sid_(sid) {}

    void deleted(const std::wstring& what) { add(what + L" deleted", true); }
    void failed(const std::wstring& what, DWORD error)
    {
        add(what + L" failed, lastError:" + std::to_wstring(error), false);
    }

    void write() const
    {
        if (text_.empty())
            return;
        log_line("\tUser profile %s: %s%s", wide_to_utf8(sid_).c_str(), wide_to_utf8(text_).c_str(),
                 last_deleted_ ? "." : "");
    }

private:
    void add(const std::wstring& part, bool deleted)
    {
        text_ += (text_.empty() ? L"" : L", ") + part;
        last_deleted_ = deleted;
    }

    std::wstring sid_;
    std::wstring text_;
    bool last_deleted_ = false;
};

// The client's key in the hive, reached one checked key at a time; nothing happens when it is not there.
void delete_user_key(const ferrolink::user_hive& hive, profile_line& line)
{
    unique_hkey parent;
    unique_hkey key;
    if (ferrolink::open_user_key_parent(hive, KEY_READ, parent) != ERROR_SUCCESS ||
        ferrolink::open_key_as_itself(parent.get(), ferrolink::user_key_name, KEY_QUERY_VALUE, key) ==
            ERROR_FILE_NOT_FOUND)
        return;
    key.reset();
    const std::wstring what = L"key [" + std::wstring(ferrolink::user_key) + L"]";
    const std::wstring logged = hive.name() + L"\\" + ferrolink::user_key;
    if (delete_registry_subtree(parent.get(), ferrolink::user_key_name, logged, false))
        line.deleted(what);
    else
        line.failed(what, ::GetLastError());
}

void delete_profile_key(const user_profile& profile)
{
    profile_line line(profile.sid);
    {
        ferrolink::user_hive hive(profile, kTemporaryHivePrefix + profile.sid);
        const std::wstring what = L"hive [" + hive.file() + L"]";
        if (hive.error() != 0) {
            line.failed(what, hive.error());
        } else {
            delete_user_key(hive, line);
            const DWORD unloaded = hive.unload();
            if (unloaded != 0)
                line.failed(what + L" unload", unloaded);
        }
    }
    line.write();
}

// 0 when there is nothing to delete or it was deleted; else the error, logged.
DWORD delete_profile_shortcut(const user_profile& profile)
{
    unique_handle folder;
    const DWORD walked = ferrolink::open_quick_launch_folder(profile, folder);
    // A missing folder holds no shortcut; a refused profile is not walked.
    if (walked == ERROR_PATH_NOT_FOUND || walked == ERROR_BAD_PATHNAME)
        return 0;
    unique_handle file;
    DWORD error = walked != 0 ? walked
                              : ferrolink::open_in_folder(folder.get(), ferrolink::quick_launch_shortcut,
                                                          ferrolink::entry_kind::file,
                                                          DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, file);
    if (error == ERROR_FILE_NOT_FOUND)
        return 0;
    if (error == 0)
        error = delete_open_file(file.get());
    file.reset();
    profile_line line(profile.sid);
    const std::wstring what = L"shortcut [" + ferrolink::quick_launch_shortcut_path(profile) + L"]";
    if (error == 0)
        line.deleted(what);
    else
        line.failed(what, error);
    line.write();
    return error;
}

} // namespace

void delete_profile_keys()
{
    for (const user_profile& profile : ferrolink::other_user_profiles())
        delete_profile_key(profile);
}

int delete_profile_shortcuts()
{
    int result = 1;
    for (const user_profile& profile : ferrolink::other_user_profiles()) {
        if (delete_profile_shortcut(profile) != 0)
            result = 0;
    }
    return result;
}

} // namespace cleaner
