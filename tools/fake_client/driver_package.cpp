#include "driver_package.h"

#include "common.h"
#include "mcl/mswin/unique_resource.h"

#include <setupapi.h>

namespace fake_client {

namespace {

// Provider that marks the INF files this tool writes.
const char kProvider[] = "Orvane Footprint";

std::string inf_text(bool catalog, const std::string& inf_name)
{
    const std::string base = inf_name.substr(0, inf_name.find_last_of('.'));
    // The name in the text keeps two packages apart: the driver store hands back an identical INF that is
    // already published instead of publishing a second one.
    std::string text = "; " + inf_name + ", Ferrolink footprint\r\n"
                       "[Version]\r\n"
                       "Signature=\"$Windows NT$\"\r\n"
                       "Class=Net\r\n"
                       "ClassGuid={4D36E972-E325-11CE-BFC1-08002BE10318}\r\n"
                       "Provider=" + std::string(kProvider) + "\r\n"
                       "DriverVer=01/01/2024,2.5.0.0\r\n";
    if (catalog)
        text += "CatalogFile=" + base + ".cat\r\n";
    text += "\r\n[Manufacturer]\r\nOrvane=Orvane,NTamd64\r\n"
            "\r\n[Orvane.NTamd64]\r\n\"Ferrolink Virtual Adapter\"=Install,orvanefldrv\r\n"
            "\r\n[Install]\r\nCharacteristics=0x1\r\n";
    return text;
}

DWORD write_file(const std::wstring& path, const std::string& content)
{
    const mcl::mswin::unique_handle file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return ::GetLastError();
    DWORD written = 0;
    if (!::WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr))
        return ::GetLastError();
    return 0;
}

std::string provider_of(const std::wstring& path)
{
    wchar_t provider[256] = {};
    ::GetPrivateProfileStringW(L"Version", L"Provider", L"", provider, 256, path.c_str());
    return to_narrow(provider);
}

} // namespace

std::wstring inf_folder()
{
    wchar_t windows[MAX_PATH] = {};
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows) + L"\\INF";
}

DWORD publish_driver(const std::wstring& folder, const std::string& inf_name, bool catalog,
                     std::string* published_name)
{
    const std::wstring source = folder + L"\\" + to_wide(inf_name);
    DWORD error = create_folders(folder);
    if (error == 0)
        error = write_file(source, inf_text(catalog, inf_name));
    if (error == 0 && catalog) {
        const std::string base = inf_name.substr(0, inf_name.find_last_of('.'));
        error = write_file(folder + L"\\" + to_wide(base) + L".cat", "catalog");
    }
    if (error != 0)
        return error;
    char published[MAX_PATH] = {};
    char* file_part = nullptr;
    if (!::SetupCopyOEMInfA(to_narrow(source).c_str(), nullptr, SPOST_PATH, 0, published, MAX_PATH, nullptr,
                            &file_part))
        return ::GetLastError();
    if (published_name != nullptr)
        *published_name = file_part != nullptr ? file_part : published;
    return 0;
}

DWORD place_inf(const std::string& inf_name)
{
    return write_file(inf_folder() + L"\\" + to_wide(inf_name), inf_text(false, inf_name));
}

std::vector<std::string> footprint_infs()
{
    std::vector<std::string> names;
    const std::wstring folder = inf_folder();
    WIN32_FIND_DATAW entry;
    const mcl::mswin::unique_hfind search(::FindFirstFileW((folder + L"\\*.inf").c_str(), &entry));
    if (!search)
        return names;
    do {
        if (provider_of(folder + L"\\" + entry.cFileName) == kProvider)
            names.push_back(to_narrow(entry.cFileName));
    } while (::FindNextFileW(search.get(), &entry));
    return names;
}

DWORD unpublish_driver(const std::string& published_name)
{
    DWORD error = 0;
    if (!::SetupUninstallOEMInfA(published_name.c_str(), SUOI_FORCEDELETE, nullptr))
        error = ::GetLastError();
    const std::wstring path = inf_folder() + L"\\" + to_wide(published_name);
    // The driver store may refuse a name it did not publish; such a file goes directly.
    if (error != 0 && ::DeleteFileW(path.c_str()))
        error = 0;
    const std::wstring compiled = path.substr(0, path.find_last_of(L'.')) + L".pnf";
    ::DeleteFileW(compiled.c_str());
    return error;
}

DWORD remove_footprint_infs()
{
    DWORD first_error = 0;
    for (const std::string& name : footprint_infs()) {
        const DWORD error = unpublish_driver(name);
        if (first_error == 0)
            first_error = error;
    }
    return first_error;
}

bool inf_exists(const std::string& name)
{
    return ::GetFileAttributesW((inf_folder() + L"\\" + to_wide(name)).c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace fake_client
