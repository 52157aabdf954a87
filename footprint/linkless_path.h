// A folder opened from its volume's root down, one component at a time, where no component may be a link:
// whatever the path's text, the handle is on the folder that text names on this volume, and a user who can
// create folders on the way cannot make it lead elsewhere.
#pragma once

#include "mcl/mswin/relative_open.h"
#include "mcl/mswin/unique_resource.h"

#include <string>
#include <vector>

namespace ferrolink {

// What was opened: the folder above the item, held; the item's name in it; and the item itself, opened as
// itself (a link as the link) for reading its attributes and identity. Whoever acts on the item opens it
// again by name inside `parent` and checks with same_object() that it is still what was checked.
struct held_item {
    mcl::mswin::unique_handle parent;
    std::wstring name;
    mcl::mswin::unique_handle item;
    DWORD listed = 0;  // the item's attributes as its folder lists them
};

// Opens the item at `path` (absolute: "C:\..." or "\\server\share\...", not a root). Every folder above it must
// be a plain folder (ERROR_REPARSE_ATTRIBUTE_CONFLICT otherwise). 0, or the Windows error
// (ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND when something on the path is missing).
DWORD open_without_links(const std::wstring& path, held_item& out);

// Splits a full path ("C:\...", "\\server\share\...", or either behind "\\?\") into the root of its volume, in the
// "\\?\" form, and the components below it. False for anything else (device paths, a bare share).
bool split_volume_path(const std::wstring& full, std::wstring& root, std::vector<std::wstring>& components);

// The absolute form Windows itself resolves a path to ("." and ".." gone, "/" turned into "\\").
bool absolute_form(const std::wstring& path, std::wstring& full);

// The attributes under which `folder` lists `name` (compared ordinally, ignoring case); 0 when it does not.
DWORD listed_attributes(HANDLE folder, const std::wstring& name);

// The attributes of an open file or folder; INVALID_FILE_ATTRIBUTES when they cannot be read.
DWORD attributes_of(HANDLE handle);

// Which file or folder an open handle is on, whatever path led there: its volume and its file id.
struct file_identity {
    ULONGLONG volume = 0;
    unsigned char file[16] = {};
    bool full_id = false;  // the 128-bit id of FILE_ID_INFO, not the 64-bit file index

    bool operator==(const file_identity& other) const;
};

// The identity of an open file or folder; false when it cannot be read.
bool identity_of(HANDLE handle, file_identity& id);

// Whether two handles are on the same file or folder.
bool same_object(HANDLE first, HANDLE second);

} // namespace ferrolink
