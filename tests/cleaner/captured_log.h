// Where a test finds the cleaner's run log: a file of its own for a step called directly, or the log a
// whole run of FerrolinkCleaner.exe leaves in its working folder.
#pragma once

#include "cleaner/run_log.h"
#include "test_support.h"

#include <cstdio>
#include <string>

namespace fltest {

class captured_log {
public:
    captured_log() : path_(folder_ / L"run.log")
    {
        cleaner::run_log = ::_wfopen(path_.c_str(), L"a");
        cleaner::restart_required = false;
    }
    ~captured_log() { close(); }

    // Closes the log and returns all it holds.
    std::string text()
    {
        close();
        return read_text(path_);
    }

private:
    void close()
    {
        if (cleaner::run_log != nullptr)
            std::fclose(cleaner::run_log);
        cleaner::run_log = nullptr;
    }

    temp_folder folder_;
    std::wstring path_;
};

const char kRunLogName[] = "Ferrolink Cleaner Log.txt";

// Runs FerrolinkCleaner.exe in `folder`, where it writes kRunLogName unless in automatic mode.
inline process_output run_cleaner(const std::wstring& folder, const std::wstring& arguments = L"")
{
    const std::wstring exe = L"\"" + bin_path(L"FerrolinkCleaner.exe") + L"\"";
    return run_process(arguments.empty() ? exe : exe + L" " + arguments, folder);
}

} // namespace fltest
