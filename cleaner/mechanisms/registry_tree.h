// The recursive registry key deleter: the registry cleanup deletes every row with it, the installer check the
// product registration it finds.
#pragma once

#include <windows.h>

#include <string>

namespace cleaner {

// Key paths are limited to what fits a buffer of this many characters, terminator included. A longer path is
// refused rather than cut, so nothing is ever deleted under a shortened name.
const size_t kKeyPathBuffer = 520;

// Deletes `path` under `root` with all its subkeys. With `keep_profiles`, every subkey named exactly "Profiles"
// survives with the keys on its way up, and the client's product key is not reported when it has to stay.
// Returns 1 when the key is gone (or was never there), 0 when it failed; failures are logged.
[[nodiscard]] int delete_registry_tree(HKEY root, const std::wstring& path, bool keep_profiles);

// How much one deletion may do, in keys and in time: a tree that someone keeps growing while it is deleted must
// not hold the run. Once spent, the deletion stops where it is, without further log lines.
class deletion_bound {
public:
    deletion_bound(unsigned long keys, DWORD milliseconds);
    // False once the keys or the time are spent.
    bool take();
    bool reached() const { return reached_; }
    unsigned long keys_taken() const { return taken_; }

private:
    unsigned long keys_;
    unsigned long taken_ = 0;
    ULONGLONG deadline_;
    bool reached_ = false;
};

// The same for the key `name` below the open `parent`, known in the log as `logged_path`: for a key reached one
// checked key at a time. The thread's last error tells why it failed. With a `bound`, a deletion that reaches it
// returns 0 with bound->reached().
[[nodiscard]] int delete_registry_subtree(HKEY parent, const std::wstring& name, const std::wstring& logged_path,
                                          bool keep_profiles, deletion_bound* bound = nullptr);

// The deleter's failure line for `path`, also written by callers that delete a key in their own way.
void log_delete_failure(const std::wstring& path, DWORD error);

} // namespace cleaner
