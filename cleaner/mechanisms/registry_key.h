// Registry keys opened and deleted as themselves: a symbolic link is the link, never the key it names.
#pragma once

#include "mcl/mswin/unique_resource.h"

#include <windows.h>

#include <string>

namespace cleaner {

// Opens `name` below `parent`; when that key is a link, the handle is on the link itself. Keys on the way to
// it are followed as usual (the Wow6432Node views are reached that way).
LONG open_key_itself(HKEY parent, const std::wstring& name, REGSAM access, mcl::mswin::unique_hkey& key);

// Deletes `name` below `parent` as RegDeleteKeyW does (it must have no subkeys; the same error codes), except
// that a link goes as the link: deleting by name would delete the key it points at, anywhere in the registry.
LONG delete_key_itself(HKEY parent, const std::wstring& name);

} // namespace cleaner
