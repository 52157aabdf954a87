// What the Wine tests share: running programs, temporary folders, reading files back.
#pragma once

#include <windows.h>

#include <string>

namespace fltest {

// Folder that holds this test executable and every program the build makes.
std::wstring bin_dir();
std::wstring bin_path(const wchar_t* program);

// A name no other test uses: prefix + process id + counter.
std::wstring unique_name(const wchar_t* prefix);

// A new empty folder under the temporary folder, removed with everything below it on destruction.
class temp_folder {
public:
    temp_folder();
    ~temp_folder();
    temp_folder(const temp_folder&) = delete;
    temp_folder& operator=(const temp_folder&) = delete;
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// Polls `condition` every 10 ms for up to timeout_ms.
template <typename Condition>
bool eventually(Condition condition, DWORD timeout_ms = 5000)
{
    for (DWORD waited = 0;; waited += 10) {
        if (condition())
            return true;
        if (waited >= timeout_ms)
            return false;
        ::Sleep(10);
    }
}

// Deletes a file tree, clearing read-only attributes on the way. Missing is fine.
void remove_tree(const std::wstring& path);

// Whole file read in text mode ("\r\n" becomes "\n"); empty when it cannot be read.
std::string read_text(const std::wstring& path);
void write_text(const std::wstring& path, const std::string& text);
bool exists(const std::wstring& path);

struct process_output {
    DWORD exit_code = 0xFFFFFFFF;
    std::string console;  // stdout and stderr together, "\r\n" turned into "\n"
};

// Runs a command line to its end with standard input from NUL and output captured.
process_output run_process(const std::wstring& command_line, const std::wstring& working_dir = L"",
                           DWORD timeout_ms = 120000);

// A started program that is killed (if still running) on destruction.
class child_process {
public:
    explicit child_process(const std::wstring& command_line);
    ~child_process();
    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;
    bool started() const { return process_ != nullptr; }
    DWORD id() const { return id_; }
    bool running() const;
    bool wait(DWORD timeout_ms) const;

private:
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};

// Copies the sleeper stand-in to `folder` under `image_name` and starts it.
std::wstring copy_sleeper(const std::wstring& folder, const std::wstring& image_name);

// The application manifest embedded in a program (resource 1 of type 24); empty when there is none.
std::string embedded_manifest(const std::wstring& exe);

// A program's version resource, whole; empty when there is none. version_of reads its fixed part.
std::string version_block(const std::wstring& exe);
bool version_of(const std::string& block, VS_FIXEDFILEINFO& fixed);

std::string narrow(const std::wstring& text);
std::wstring widen(const std::string& text);

// A registry link at HKLM `path` to the HKLM key `target`; whatever is left of it goes as the link on
// destruction.
class machine_link {
public:
    machine_link(const std::wstring& path, const std::wstring& target);
    ~machine_link();
    machine_link(const machine_link&) = delete;
    machine_link& operator=(const machine_link&) = delete;
    bool made() const { return made_; }

private:
    std::wstring path_;
    bool made_ = false;
};

} // namespace fltest
