#include "cleaner/mechanisms/profile_line.h"

#include "cleaner/run_log.h"

namespace cleaner {

const wchar_t kTemporaryHivePrefix[] = L"FerrolinkCleaner_";

void profile_line::write() const
{
    if (text_.empty())
        return;
    log_line("\tUser profile %s: %s%s", wide_to_utf8(sid_).c_str(), wide_to_utf8(text_).c_str(),
             last_deleted_ ? "." : "");
}

} // namespace cleaner
