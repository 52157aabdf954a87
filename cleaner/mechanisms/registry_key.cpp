#include "cleaner/mechanisms/registry_key.h"

#include "footprint/registry_probe.h"
#include "mcl/mswin/unique_resource.h"

#include <winternl.h>

namespace cleaner {

namespace {

using delete_key_function = NTSTATUS(NTAPI*)(HANDLE);

// The only call that deletes the very key a handle names; RegDeleteKeyW reopens by name and follows links.
delete_key_function nt_delete_key()
{
    static const auto function = reinterpret_cast<delete_key_function>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
    return function;
}

} // namespace

LONG delete_key_itself(HKEY parent, const std::wstring& name)
{
    const delete_key_function delete_key = nt_delete_key();
    if (delete_key == nullptr)
        return ERROR_PROC_NOT_FOUND;
    mcl::mswin::unique_hkey key;
    const LONG opened = ferrolink::open_key_as_itself(parent, name, DELETE, key);
    if (opened != ERROR_SUCCESS)
        return opened;
    return static_cast<LONG>(::RtlNtStatusToDosError(delete_key(key.get())));
}

} // namespace cleaner
