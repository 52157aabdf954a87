#include "footprint/linkless_path.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace ferrolink {

namespace {

using mcl::mswin::relative_open;
using mcl::mswin::unique_handle;

// Splits a full path into the root to open by name ("\\?\C:\" or "\\?\UNC\server\share\") and the components
// below it. False for anything else (device paths, a bare share).
bool split(const std::wstring& full, std::wstring& root, std::vector<std::wstring>& components)
{
    size_t rest = 0;
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') {
        root = L"\\\\?\\" + full.substr(0, 3);
        rest = 3;
    } else if (full.compare(0, 2, L"\\\\") == 0 && full.size() > 2 && full[2] != L'?' && full[2] != L'.') {
        const size_t host_end = full.find(L'\\', 2);
        const size_t share_end = host_end == std::wstring::npos ? host_end : full.find(L'\\', host_end + 1);
        if (host_end == std::wstring::npos || host_end == 2 || share_end == host_end + 1)
            return false;
        root = L"\\\\?\\UNC\\" + full.substr(2, share_end == std::wstring::npos ? std::wstring::npos : share_end - 2) +
               L"\\";
        rest = share_end == std::wstring::npos ? full.size() : share_end + 1;
    } else {
        return false;
    }
    for (size_t at = rest; at < full.size();) {
        const size_t end = std::min(full.find(L'\\', at), full.size());
        if (end > at)
            components.push_back(full.substr(at, end - at));
        at = end + 1;
    }
    return true;
}

// FileIdInfo and FILE_ID_INFO (Windows 8 and later), named here because the headers declare them only for builds
// that require that version.
const FILE_INFO_BY_HANDLE_CLASS kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);
struct file_id_info {
    ULONGLONG volume_serial;
    unsigned char file_id[16];
};

const DWORD kFolderOnTheWay = FILE_TRAVERSE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
const DWORD kListingBytes = 64 * 1024;

unique_handle open_root(const std::wstring& root)
{
    return unique_handle(::CreateFileW(root.c_str(), kFolderOnTheWay,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

bool same_name(const wchar_t* listed, size_t length, const std::wstring& name)
{
    return ::CompareStringOrdinal(listed, static_cast<int>(length), name.c_str(), static_cast<int>(name.size()),
                                  TRUE) == CSTR_EQUAL;
}

// One folder on the way down: held only long enough to open the next one below it. A link counts as one
// whether the folder's listing or the opened handle says so: not every file system honours an open of the
// link itself.
DWORD step_down(unique_handle& folder, const std::wstring& name)
{
    relative_open traverse;
    traverse.access = kFolderOnTheWay;
    traverse.backup_intent = true;
    unique_handle next;
    const DWORD error = mcl::mswin::open_relative(folder.get(), name, traverse, next);
    if (error != 0)
        return error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error;
    const DWORD attributes = attributes_of(next.get());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return ::GetLastError();
    if ((attributes | listed_attributes(folder.get(), name)) & FILE_ATTRIBUTE_REPARSE_POINT)
        return ERROR_REPARSE_ATTRIBUTE_CONFLICT;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return ERROR_PATH_NOT_FOUND;
    folder = std::move(next);
    return 0;
}

} // namespace

bool split_volume_path(const std::wstring& full, std::wstring& root, std::vector<std::wstring>& components)
{
    const std::wstring unc = L"\\\\?\\UNC\\";
    const std::wstring verbatim = L"\\\\?\\";
    if (full.compare(0, unc.size(), unc) == 0)
        return split(L"\\\\" + full.substr(unc.size()), root, components);
    if (full.compare(0, verbatim.size(), verbatim) == 0)
        return split(full.substr(verbatim.size()), root, components);
    return split(full, root, components);
}

bool absolute_form(const std::wstring& path, std::wstring& full)
{
    const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return false;
    full.assign(needed, L'\0');
    const DWORD written = ::GetFullPathNameW(path.c_str(), needed, &full[0], nullptr);
    if (written == 0 || written >= needed)
        return false;
    full.resize(written);
    return true;
}

DWORD listed_attributes(HANDLE folder, const std::wstring& name)
{
    std::vector<unsigned char> listing(kListingBytes);
    FILE_INFO_BY_HANDLE_CLASS next = FileIdBothDirectoryRestartInfo;
    while (::GetFileInformationByHandleEx(folder, next, listing.data(), kListingBytes)) {
        next = FileIdBothDirectoryInfo;
        for (size_t at = 0;;) {
            const auto& entry = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(listing.data() + at);
            if (same_name(entry.FileName, entry.FileNameLength / sizeof(wchar_t), name))
                return entry.FileAttributes;
            if (entry.NextEntryOffset == 0)
                break;
            at += entry.NextEntryOffset;
        }
    }
    return 0;
}

DWORD attributes_of(HANDLE handle)
{
    BY_HANDLE_FILE_INFORMATION information = {};
    return ::GetFileInformationByHandle(handle, &information) ? information.dwFileAttributes
                                                                : INVALID_FILE_ATTRIBUTES;
}

bool file_identity::operator==(const file_identity& other) const
{
    return full_id == other.full_id && volume == other.volume && std::memcmp(file, other.file, sizeof(file)) == 0;
}

// GetFileInformationByHandle gives a 64-bit file index, which with the volume's serial number identifies a file on
// NTFS; on ReFS, whose file ids are 128 bits, it is not guaranteed to be unique, so two files could pass for one
// and a swapped folder for the one that was checked. The identity is therefore FILE_ID_INFO's 128-bit id and
// 64-bit serial number. Only a file system that does not give it (FAT; every file system before Windows 8, where
// there is no ReFS) is identified by the 64-bit index, which there is its whole id; an identity of one kind never
// equals one of the other.
bool identity_of(HANDLE handle, file_identity& id)
{
    file_id_info full = {};
    if (::GetFileInformationByHandleEx(handle, kFileIdInfo, &full, sizeof(full))) {
        id.volume = full.volume_serial;
        std::memcpy(id.file, full.file_id, sizeof(id.file));
        id.full_id = true;
        return true;
    }
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!::GetFileInformationByHandle(handle, &information))
        return false;
    const ULONGLONG index = (static_cast<ULONGLONG>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    id = file_identity();
    id.volume = information.dwVolumeSerialNumber;
    std::memcpy(id.file, &index, sizeof(index));
    return true;
}

bool same_object(HANDLE first, HANDLE second)
{
    file_identity one;
    file_identity other;
    return identity_of(first, one) && identity_of(second, other) && one == other;
}

DWORD open_without_links(const std::wstring& path, held_item& out)
{
    std::wstring full;
    std::wstring root;
    std::vector<std::wstring> components;
    if (!absolute_form(path, full) || !split(full, root, components) || components.empty())
        return ERROR_BAD_PATHNAME;
    unique_handle folder = open_root(root);
    if (!folder)
        return ::GetLastError();
    for (size_t i = 0; i + 1 < components.size(); ++i) {
        const DWORD error = step_down(folder, components[i]);
        if (error != 0)
            return error;
    }
    relative_open as_itself;
    as_itself.backup_intent = true;
    unique_handle item;
    const DWORD error = mcl::mswin::open_relative(folder.get(), components.back(), as_itself, item);
    if (error != 0)
        return error;
    out.listed = listed_attributes(folder.get(), components.back());
    out.parent = std::move(folder);
    out.name = components.back();
    out.item = std::move(item);
    return 0;
}

} // namespace ferrolink
