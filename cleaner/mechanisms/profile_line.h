// What the steps that visit every other user's profile share: the name under which they load a user's hive, and
// the one log line they write per profile.
#pragma once

#include <windows.h>

#include <string>

namespace cleaner {

// A user's hive file loaded for the moment is mounted below HKU under this prefix and the user's SID.
extern const wchar_t kTemporaryHivePrefix[];

// What was done in one profile, written as one line once the profile is done, and only if anything was found:
// "\tUser profile <SID>: key [...] deleted." or "...: key [...] failed, lastError:<n>", parts joined by ", ".
class profile_line {
public:
    explicit profile_line(const std::wstring& sid) : sid_(sid) {}

    void deleted(const std::wstring& what) { add(what + L" deleted", true); }
    void failed(const std::wstring& what, DWORD error)
    {
        add(what + L" failed, lastError:" + std::to_wstring(error), false);
    }
    // Something of the client that stays, and why.
    void left(const std::wstring& what, const std::wstring& why) { add(what + L" left: " + why, false); }

    void write() const;

private:
    void add(const std::wstring& part, bool deleted)
    {
        text_ += (text_.empty() ? L"" : L", ") + part;
        last_deleted_ = deleted;
    }

    std::wstring sid_;
    std::wstring text_;
    bool last_deleted_ = false;
};

} // namespace cleaner
