// Which running processes are the client's.
#pragma once

namespace ferrolink {

// Image names compared character by character ignoring case, as the file system does: a linguistic
// comparison would take names that differ by an ignorable character (a soft hyphen, say) for the same one.
bool same_image_name(const wchar_t* running, const wchar_t* image);

// True when the file name part of a full image path is `image`.
bool image_path_has_name(const wchar_t* path, const wchar_t* image);

} // namespace ferrolink
