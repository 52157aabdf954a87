#include "cleaner/mechanisms/folder_protection.h"

#include "cleaner/mechanisms/account_trust.h"
#include "footprint/linkless_path.h"
#include "mcl/mswin/relative_open.h"
#include "mcl/mswin/unique_resource.h"

#include <aclapi.h>

#include <vector>

namespace cleaner {

namespace {

using mcl::mswin::unique_handle;

// Deleting or renaming the folder, adding, removing or renaming entries, setting a reparse point (which needs
// write data or write attributes), or changing owner or DACL; the generic rights as they map for a folder.
const ACCESS_MASK kChangeRights = DELETE | WRITE_DAC | WRITE_OWNER | FILE_DELETE_CHILD | FILE_ADD_FILE |
                                  FILE_ADD_SUBDIRECTORY | FILE_WRITE_ATTRIBUTES | GENERIC_WRITE | GENERIC_ALL;
const ACCESS_MASK kRootChangeRights = WRITE_DAC | WRITE_OWNER | FILE_DELETE_CHILD | GENERIC_ALL;
const DWORD kCheckAccess = READ_CONTROL | FILE_READ_ATTRIBUTES | FILE_TRAVERSE | SYNCHRONIZE;

// Every ACE type keeps its access mask right behind its header.
ACCESS_MASK mask_of(const ACE_HEADER* ace)
{
    return reinterpret_cast<const ACCESS_ALLOWED_ACE*>(ace)->Mask;
}

bool lets_others_change(const ACE_HEADER* ace, ACCESS_MASK change)
{
    // Inherit-only entries are for what gets created inside, not for the folder itself.
    if ((ace->AceFlags & INHERIT_ONLY_ACE) || (mask_of(ace) & change) == 0)
        return false;
    switch (ace->AceType) {
    case ACCESS_DENIED_ACE_TYPE:
    case ACCESS_DENIED_OBJECT_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE:
        return false;
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
        const auto* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(ace);
        return !is_administrative_account(const_cast<DWORD*>(&allowed->SidStart));
    }
    default:
        // Any other kind that grants change counts against the folder.
        return true;
    }
}

// A plain folder (no link) named `name` inside `folder`, which only administrators can change, becomes the
// next `folder`.
bool step_down(unique_handle& folder, const std::wstring& name)
{
    mcl::mswin::relative_open how;
    how.access = kCheckAccess;
    how.kind = mcl::mswin::relative_kind::folder;
    how.backup_intent = true;
    unique_handle next;
    if (mcl::mswin::open_relative(folder.get(), name, how, next) != 0)
        return false;
    const DWORD attributes = ferrolink::attributes_of(next.get());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !(attributes & FILE_ATTRIBUTE_DIRECTORY) || !only_administrators_change(next.get(), false))
        return false;
    folder = std::move(next);
    return true;
}

} // namespace

bool only_administrators_change(HANDLE folder, bool volume_root)
{
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                          nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    const mcl::mswin::unique_hlocal held(descriptor);
    // Without a DACL (a null DACL, or a file system without security) everybody may do anything.
    if (!is_administrative_account(owner) || dacl == nullptr)
        return false;
    const ACCESS_MASK change = volume_root ? kRootChangeRights : kChangeRights;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!::GetAce(dacl, i, &ace) || lets_others_change(static_cast<const ACE_HEADER*>(ace), change))
            return false;
    }
    return true;
}

bool on_network_volume(const std::wstring& path)
{
    std::wstring root;
    std::vector<std::wstring> components;
    if (!ferrolink::split_volume_path(path, root, components))
        return false;
    const std::wstring share_root = L"\\\\?\\UNC\\";
    if (root.compare(0, share_root.size(), share_root) == 0)
        return true;
    // "\\?\X:\" as "X:\", the form GetDriveTypeW documents.
    const std::wstring drive = root.compare(0, 4, L"\\\\?\\") == 0 ? root.substr(4) : root;
    return ::GetDriveTypeW(drive.c_str()) == DRIVE_REMOTE;
}

bool protected_all_the_way(const std::wstring& folder)
{
    std::wstring root;
    std::vector<std::wstring> components;
    if (!ferrolink::split_volume_path(folder, root, components))
        return false;
    unique_handle at(::CreateFileW(root.c_str(), kCheckAccess, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!at || !only_administrators_change(at.get(), true))
        return false;
    for (const std::wstring& name : components) {
        if (!step_down(at, name))
            return false;
    }
    return true;
}

} // namespace cleaner
