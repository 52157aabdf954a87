// Points the cleaner's run log at a file for a test that calls a step directly.
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

} // namespace fltest
