#include "audit/check_support.h"
#include "audit/checks.h"
#include "footprint/footprint.h"
#include "mcl/mswin/unique_resource.h"

#include <setupapi.h>

namespace audit {

namespace {

using mcl::mswin::unique_local_block;

const char kPart[] = "driver packages";
// The item that stands for all of the client's packages when none is found, or the store cannot be read.
const char kAnyPackageId[] = "driver_package:any";

// The default INF folder, named: not every SetupAPI lists it when asked with no folder.
bool inf_folder(std::wstring& folder, DWORD& error)
{
    wchar_t windows[MAX_PATH] = {};
    const UINT length = ::GetWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        error = length == 0 ? ::GetLastError() : ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    folder = std::wstring(windows) + L"\\INF";
    return true;
}

// The INF files of the folder whose name begins with a lower-case "o": the published "oem" packages, as the
// driver removal selects them.
bool published_infs(const std::wstring& folder, std::vector<std::wstring>& names, DWORD& error)
{
    DWORD characters = 0;
    if (!::SetupGetInfFileListW(folder.c_str(), INF_STYLE_WIN4, nullptr, 0, &characters) &&
        (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || characters == 0)) {
        error = ::GetLastError();
        return false;
    }
    const DWORD buffer_characters = characters + 1;
    const unique_local_block<wchar_t> list(buffer_characters * sizeof(wchar_t));
    if (!list || !::SetupGetInfFileListW(folder.c_str(), INF_STYLE_WIN4, list.get(), buffer_characters, nullptr)) {
        error = ::GetLastError();
        return false;
    }
    for (const wchar_t* name = list.get(); name < list.get() + buffer_characters && *name != L'\0';
         name += std::wcslen(name) + 1) {
        if (name[0] == L'o')
            names.emplace_back(name);
    }
    return true;
}

// The name the package had before it was published; empty when it cannot be learnt.
std::wstring source_inf_name(const std::wstring& published_name)
{
    DWORD bytes = 0;
    if (!::SetupGetInfInformationW(published_name.c_str(), INFINFO_DEFAULT_SEARCH, nullptr, 0, &bytes) &&
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return std::wstring();
    if (bytes == 0)
        return std::wstring();
    const unique_local_block<SP_INF_INFORMATION> information(bytes);
    if (!information ||
        !::SetupGetInfInformationW(published_name.c_str(), INFINFO_DEFAULT_SEARCH, information.get(), bytes, nullptr))
        return std::wstring();
    SP_ORIGINAL_FILE_INFO_W original = {};
    original.cbSize = sizeof(original);
    if (!::SetupQueryInfOriginalFileInformationW(information.get(), 0, nullptr, &original))
        return std::wstring();
    original.OriginalInfName[MAX_PATH - 1] = L'\0';
    return original.OriginalInfName;
}

} // namespace

audit_items check_driver_packages()
{
    std::wstring folder;
    std::vector<std::wstring> names;
    DWORD error = 0;
    if (!inf_folder(folder, error) || !published_infs(folder, names, error)) {
        audit_item unchecked = unchecked_item(kPart, "the driver store", error);
        unchecked.id = kAnyPackageId;
        return {unchecked};
    }
    audit_items items;
    for (const std::wstring& name : names) {
        // The markers are plain ASCII, so they match the UTF-8 form exactly where they match the narrow one.
        const std::string source = wide_to_utf8(source_inf_name(name));
        if (!source.empty() && ferrolink::has_driver_marker(source.c_str())) {
            items.push_back(present_item(kPart, wide_to_utf8(name), "source " + source));
            items.back().id = "driver_package:" + wide_to_utf8(name);
        }
    }
    if (items.empty()) {
        items.push_back(absent_item(kPart, "packages whose source INF name holds the client's marker"));
        items.back().id = kAnyPackageId;
    }
    return items;
}

} // namespace audit
