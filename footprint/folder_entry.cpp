#include "footprint/folder_entry.h"

#include "footprint/linkless_path.h"
#include "mcl/mswin/relative_open.h"

namespace ferrolink {

namespace {

// One component: no separators, no stream syntax, no wildcards, not "." or "..".
bool is_plain_name(const std::wstring& name)
{
    if (name.empty() || name == L"." || name == L".." || name.size() > MAX_PATH)
        return false;
    return name.find_first_of(L"\\/:*?\"<>|") == std::wstring::npos && name.find(L'\0') == std::wstring::npos;
}

} // namespace

DWORD open_in_folder(HANDLE folder, const std::wstring& name, entry_kind kind, ACCESS_MASK access,
                     mcl::mswin::unique_handle& entry)
{
    entry.reset();
    if (!is_plain_name(name))
        return ERROR_INVALID_NAME;
    mcl::mswin::relative_open how;
    how.access = access;
    how.kind = kind == entry_kind::folder ? mcl::mswin::relative_kind::folder : mcl::mswin::relative_kind::file;
    return mcl::mswin::open_relative(folder, name, how, entry);
}

DWORD open_folder_for_walk(const std::wstring& path, mcl::mswin::unique_handle& folder)
{
    const DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    folder.reset(::CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES, share_all,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return folder ? 0 : ::GetLastError();
}

bool is_link(HANDLE entry)
{
    const DWORD attributes = attributes_of(entry);
    return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

} // namespace ferrolink
