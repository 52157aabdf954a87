// The double's log file: each line is appended whole and flushed at once, under a lock, so a test that reads
// the file after its request returned finds every line written before the answer.
#pragma once

#include "mcl/lock.h"

#include <string>

namespace protection_double {

class frame_log {
public:
    explicit frame_log(std::wstring path) : path_(std::move(path)) {}

    // Opens the file for each line, so a test may remove or truncate it between runs. False when it cannot.
    bool write(const std::string& line);

private:
    std::wstring path_;
    mcl::lock lock_;
};

} // namespace protection_double
