// Installs a logger for the library while a test runs, writing to a temporary file, and reads it back.
#pragma once

#include "mcl/log.h"
#include "test_support.h"

#include <cstdio>
#include <string>

namespace fltest {

class captured_mcl_log {
public:
    captured_mcl_log() : path_(folder_ / L"mcl.log")
    {
        target_.stream = ::_wfopen(path_.c_str(), L"w");
        mcl::install_logger(&target_);
    }
    ~captured_mcl_log() { close(); }
    captured_mcl_log(const captured_mcl_log&) = delete;
    captured_mcl_log& operator=(const captured_mcl_log&) = delete;

    // Everything written so far; the logger stays installed.
    std::string text()
    {
        if (target_.stream != nullptr)
            std::fflush(target_.stream);
        return read_text(path_);
    }

    bool contains(const std::string& part) { return text().find(part) != std::string::npos; }

private:
    void close()
    {
        mcl::install_logger(nullptr);
        if (target_.stream != nullptr)
            std::fclose(target_.stream);
        target_.stream = nullptr;
    }

    temp_folder folder_;
    std::wstring path_;
    mcl::logger target_;
};

} // namespace fltest
