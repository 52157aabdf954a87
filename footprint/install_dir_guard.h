// Whether a registered InstallDir names a folder that may be deleted whole.
#pragma once

#include "footprint/linkless_path.h"

#include <cstddef>
#include <string>

namespace ferrolink {

// What the guard found; everything but `usable` refuses the folder.
enum class install_dir_verdict {
    usable,
    unterminated,
    empty,
    too_long,
    not_absolute,
    stream_syntax,
    root,
    local_share,
    holds_system_folder,
    inside_windows,
    inside_profiles,
    through_link,
    unverifiable,
};

// The registered InstallDir, as read into its cleared buffer of `units` wide characters, must be terminated
// inside the buffer, non-empty, absolute (drive letter and backslash, or UNC), free of stream syntax, not a
// drive or share root, not an administrative share or a share of this machine, not a shell folder (Windows,
// Program Files, profiles...) nor a folder that holds one, and nothing inside the Windows folder, the profiles
// root or a user profile. Folders are compared by identity (volume and file id), so that no alias (8.3 name,
// another spelling, a path through a link) passes. The folder is opened from its volume's root down, and
// neither it nor any folder above it may be a link. `folder` gets the text as registered; for a usable folder
// that exists, `checked` (when given) gets what the checks were made on, to walk from.
install_dir_verdict check_install_dir(const wchar_t* buffer, std::size_t units, std::wstring& folder,
                                      held_item* checked = nullptr);

// check_install_dir() == usable.
bool usable_install_dir(const wchar_t* buffer, std::size_t units, std::wstring& folder);

// "refused: inside the Windows folder" and the like; empty for a usable folder.
const char* refusal_text(install_dir_verdict verdict);

} // namespace ferrolink
