// Registry keys deleted as themselves: a symbolic link goes as the link, never the key it names. They are opened
// that way with ferrolink::open_key_as_itself (footprint/registry_probe.h), as the audit looks at them.
#pragma once

#include <windows.h>

#include <string>

namespace cleaner {

// Deletes `name` below `parent` as RegDeleteKeyW does (it must have no subkeys; the same error codes), except
// that a link goes as the link: deleting by name would delete the key it points at, anywhere in the registry.
LONG delete_key_itself(HKEY parent, const std::wstring& name);

} // namespace cleaner
