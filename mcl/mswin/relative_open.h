// Opening files and folders by handle rather than by path: a name inside a folder that is already held, or
// the held object itself again with other rights. No path is resolved a second time, so nothing on the way
// can be swapped in between, and a link is always opened as the link itself.
#pragma once

#include "mcl/mswin/unique_resource.h"

#include <string_view>

namespace mcl::mswin {

enum class relative_kind { any, folder, file };

struct relative_open {
    DWORD access = FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    relative_kind kind = relative_kind::any;  // another kind fails (ERROR_DIRECTORY or ERROR_ACCESS_DENIED)
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    bool backup_intent = false;  // as FILE_FLAG_BACKUP_SEMANTICS: needed to open a folder for its rights
};

// Opens `name` (one component, no separator) inside the folder `parent`, or `parent` itself again when `name`
// is empty. 0, or the Windows error. An item whose opportunistic lock another process does not give up within
// about 2 s is ERROR_SHARING_VIOLATION: in use, never a wait without end.
DWORD open_relative(HANDLE parent, std::wstring_view name, const relative_open& how, unique_handle& out);

} // namespace mcl::mswin
