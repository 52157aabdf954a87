// The fake client's parts as commands: `fake_client <part> [action] [arguments]`.
#pragma once

#include "audit/audit_report.h"

#include <string>
#include <vector>

namespace fake_client {

// The words after the part's name.
using arguments = std::vector<std::wstring>;

// One part of the client's footprint: its name on the command line, its usage lines, its handler
// (returns the exit code: 0 done, 1 failed, 2 usage).
struct part_command {
    const wchar_t* name;
    const char* usage;
    int (*run)(const arguments& args);
};

int services_command(const arguments& args);
int adapter_command(const arguments& args);
int driver_command(const arguments& args);
int files_command(const arguments& args);
int shortcuts_command(const arguments& args);

// The status of a part: the audit's lines for its items. Returns 0.
int print_audit_items(const std::vector<audit::audit_item>& items);

extern const char services_usage[];
extern const char adapter_usage[];
extern const char driver_usage[];
extern const char files_usage[];
extern const char shortcuts_usage[];

} // namespace fake_client
