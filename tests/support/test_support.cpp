#include "test_support.h"

#include "mcl/mswin/unique_resource.h"

#include <cstdio>
#include <vector>

namespace fltest {

std::wstring bin_dir()
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    return dir.substr(0, dir.find_last_of(L"\\/"));
}

std::wstring bin_path(const wchar_t* program)
{
    return bin_dir() + L"\\" + program;
}

std::wstring unique_name(const wchar_t* prefix)
{
    static LONG counter = 0;
    return std::wstring(prefix) + std::to_wstring(::GetCurrentProcessId()) + L"_" +
           std::to_wstring(::InterlockedIncrement(&counter));
}

temp_folder::temp_folder()
{
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + unique_name(L"fltest_");
    ::CreateDirectoryW(path_.c_str(), nullptr);
}

temp_folder::~temp_folder()
{
    remove_tree(path_);
}

void remove_tree(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (!::DeleteFileW(path.c_str()))
            ::RemoveDirectoryW(path.c_str());
        return;
    }
    WIN32_FIND_DATAW entry;
    HANDLE find = ::FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name != L"." && name != L"..")
                remove_tree(path + L"\\" + name);
        } while (::FindNextFileW(find, &entry));
        ::FindClose(find);
    }
    ::RemoveDirectoryW(path.c_str());
}

std::string read_text(const std::wstring& path)
{
    FILE* file = ::_wfopen(path.c_str(), L"r");
    if (file == nullptr)
        return std::string();
    std::string text;
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof(chunk), file)) > 0)
        text.append(chunk, got);
    std::fclose(file);
    return text;
}

void write_text(const std::wstring& path, const std::string& text)
{
    FILE* file = ::_wfopen(path.c_str(), L"wb");
    if (file == nullptr)
        return;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

bool exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {

std::string without_carriage_returns(const std::string& text)
{
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        if (c != '\r')
            result += c;
    }
    return result;
}

} // namespace

process_output run_process(const std::wstring& command_line, const std::wstring& working_dir, DWORD timeout_ms)
{
    // Output goes to a file, not a pipe: a process the child starts in turn (Wine's desktop process, for one)
    // may inherit the handle and keep a pipe open long after the child ended.
    process_output result;
    // Beside the test programs, so that tests may change the child's temp folder.
    wchar_t output_path[MAX_PATH] = {};
    if (!::GetTempFileNameW(bin_dir().c_str(), L"out", 0, output_path))
        return result;
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE output = ::CreateFileW(output_path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    HANDLE null_input = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                      OPEN_EXISTING, 0, nullptr);

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = null_input;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION info = {};
    std::vector<wchar_t> line(command_line.begin(), command_line.end());
    line.push_back(L'\0');
    const BOOL started = output != INVALID_HANDLE_VALUE &&
                         ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                          working_dir.empty() ? nullptr : working_dir.c_str(), &startup, &info);
    if (output != INVALID_HANDLE_VALUE)
        ::CloseHandle(output);
    if (null_input != INVALID_HANDLE_VALUE)
        ::CloseHandle(null_input);
    if (started) {
        if (::WaitForSingleObject(info.hProcess, timeout_ms) != WAIT_OBJECT_0)
            ::TerminateProcess(info.hProcess, 0xFFFFFFFF);
        ::GetExitCodeProcess(info.hProcess, &result.exit_code);
        ::CloseHandle(info.hThread);
        ::CloseHandle(info.hProcess);
        result.console = without_carriage_returns(read_text(output_path));
    }
    ::DeleteFileW(output_path);
    return result;
}

child_process::child_process(const std::wstring& command_line)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    std::vector<wchar_t> line(command_line.begin(), command_line.end());
    line.push_back(L'\0');
    if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        ::CloseHandle(info.hThread);
        process_ = info.hProcess;
        id_ = info.dwProcessId;
    }
}

child_process::~child_process()
{
    if (process_ == nullptr)
        return;
    if (running()) {
        ::TerminateProcess(process_, 0xFFFFFFFF);
        ::WaitForSingleObject(process_, 5000);
    }
    ::CloseHandle(process_);
}

bool child_process::running() const
{
    return process_ != nullptr && ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

bool child_process::wait(DWORD timeout_ms) const
{
    return process_ != nullptr && ::WaitForSingleObject(process_, timeout_ms) == WAIT_OBJECT_0;
}

std::wstring copy_sleeper(const std::wstring& folder, const std::wstring& image_name)
{
    const std::wstring target = folder + L"\\" + image_name;
    ::CopyFileW(bin_path(L"sleeper.exe").c_str(), target.c_str(), FALSE);
    return target;
}

std::string narrow(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                            nullptr, nullptr);
    std::string result(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &result[0], bytes, nullptr,
                          nullptr);
    return result;
}

std::wstring widen(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int units = ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<size_t>(units), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &result[0], units);
    return result;
}

std::string embedded_manifest(const std::wstring& exe)
{
    HMODULE module = ::LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return {};
    std::string content;
    if (HRSRC manifest = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))) {
        const char* text = static_cast<const char*>(::LockResource(::LoadResource(module, manifest)));
        if (text)
            content.assign(text, ::SizeofResource(module, manifest));
    }
    ::FreeLibrary(module);
    return content;
}

std::string version_block(const std::wstring& exe)
{
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    std::string block(size, '\0');
    if (size == 0 || !::GetFileVersionInfoW(exe.c_str(), 0, size, &block[0]))
        return {};
    return block;
}

bool version_of(const std::string& block, VS_FIXEDFILEINFO& fixed)
{
    VS_FIXEDFILEINFO* found = nullptr;
    UINT found_size = 0;
    if (block.empty() || !::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&found), &found_size) ||
        found_size < sizeof(fixed))
        return false;
    fixed = *found;
    return true;
}

machine_link::machine_link(const std::wstring& path, const std::wstring& target) : path_(path)
{
    mcl::mswin::unique_hkey link;
    const std::wstring kernel_target = L"\\Registry\\Machine\\" + target;
    made_ = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS,
                              nullptr, link.put(), nullptr) == ERROR_SUCCESS &&
            ::RegSetValueExW(link.get(), L"SymbolicLinkValue", 0, REG_LINK,
                             reinterpret_cast<const BYTE*>(kernel_target.c_str()),
                             static_cast<DWORD>(kernel_target.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
}

machine_link::~machine_link()
{
    mcl::mswin::unique_hkey link;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS, link.put()) ==
        ERROR_SUCCESS)
        ::RegDeleteKeyW(link.get(), L"");
}

} // namespace fltest
