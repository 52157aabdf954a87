// The install-folder walk of the cleaner against the command processor's own tree removal, in the same run:
// delete_folder_tree over 10,000 files in nested folders, with its run-log line for every file and folder,
// against "cmd /c rmdir /s /q" on an identical tree. Works in a folder of its own under the temp folder.
#include "cleaner/mechanisms/folder_tree.h"
#include "cleaner/run_log.h"

#include "bench_clock.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const int kTopFolders = 10;
const int kSubFolders = 10;
const int kFilesPerFolder = 100;  // 10 x 10 x 100 = 10,000 files in 110 folders
const int kRounds = 3;

void write_file(const std::wstring& path)
{
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    ::WriteFile(file, "payload\r\n", 9, &written, nullptr);
    ::CloseHandle(file);
}

void build_tree(const std::wstring& root)
{
    ::CreateDirectoryW(root.c_str(), nullptr);
    for (int top = 0; top < kTopFolders; ++top) {
        const std::wstring top_path = root + L"\\bin" + std::to_wstring(top);
        ::CreateDirectoryW(top_path.c_str(), nullptr);
        for (int sub = 0; sub < kSubFolders; ++sub) {
            const std::wstring sub_path = top_path + L"\\module" + std::to_wstring(sub);
            ::CreateDirectoryW(sub_path.c_str(), nullptr);
            for (int file = 0; file < kFilesPerFolder; ++file)
                write_file(sub_path + L"\\component" + std::to_wstring(file) + L".dll");
        }
    }
}

bool exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

double time_cleaner(const std::wstring& root, const std::wstring& log_path)
{
    cleaner::run_log = ::_wfopen(log_path.c_str(), L"w");
    const double start = now_ms();
    const DWORD result = cleaner::delete_folder_tree(root);
    const double elapsed = now_ms() - start;
    std::fclose(cleaner::run_log);
    cleaner::run_log = nullptr;
    if (result != 0 || exists(root))
        std::printf("  delete_folder_tree failed: %lu\n", result);
    return elapsed;
}

double time_rmdir(const std::wstring& root)
{
    std::wstring command = L"cmd /c rmdir /s /q \"" + root + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    const double start = now_ms();
    if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return -1;
    ::WaitForSingleObject(info.hProcess, INFINITE);
    const double elapsed = now_ms() - start;
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    if (exists(root))
        std::printf("  rmdir left the tree\n");
    return elapsed;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main()
{
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring base = std::wstring(temp) + L"folder_bench_" + std::to_wstring(::GetCurrentProcessId());
    ::CreateDirectoryW(base.c_str(), nullptr);
    const std::wstring log_path = base + L"\\run.log";
    std::printf("folder walk: %d files in %d folders per tree\n", kTopFolders * kSubFolders * kFilesPerFolder,
                kTopFolders * kSubFolders + kTopFolders + 1);
    std::vector<double> walk;
    std::vector<double> rmdir;
    for (int round = 0; round < kRounds; ++round) {
        const std::wstring a = base + L"\\a";
        const std::wstring b = base + L"\\b";
        build_tree(a);
        build_tree(b);
        // Alternate which goes first, so that neither always meets a colder cache.
        if (round % 2 == 0) {
            walk.push_back(time_cleaner(a, log_path));
            rmdir.push_back(time_rmdir(b));
        } else {
            rmdir.push_back(time_rmdir(b));
            walk.push_back(time_cleaner(a, log_path));
        }
        std::printf("  round %d: delete_folder_tree %.1f ms, cmd /c rmdir /s /q %.1f ms\n", round + 1, walk.back(),
                    rmdir.back());
    }
    const double w = median(walk), r = median(rmdir);
    std::printf("delete_folder_tree (median of %d): %.1f ms; cmd /c rmdir /s /q %.1f ms (ratio %.2f, goal <= 1.20)\n",
                kRounds, w, r, w / r);
    ::DeleteFileW(log_path.c_str());
    ::RemoveDirectoryW(base.c_str());
    return 0;
}
