#include "frame_log.h"

#include "mcl/mswin/unique_resource.h"

#include <cstdio>

namespace protection_double {

bool frame_log::write(const std::string& line)
{
    mcl::scoped_lock guard(lock_);
    const mcl::mswin::unique_file file(::_wfopen(path_.c_str(), L"ab"));
    if (!file)
        return false;
    const std::string text = line + "\n";
    const bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
    return std::fflush(file.get()) == 0 && written;
}

} // namespace protection_double
