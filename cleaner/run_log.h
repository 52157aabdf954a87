// The console and run-log pair that every cleaner step writes to, and the run's process-wide flags.
#pragma once

#include "mcl/mswin/utf.h"

#include <cstdio>
#include <string>

namespace cleaner {

// The run log: opened and closed by the run driver, written by every step. Null while closed,
// in which case log lines are dropped.
extern FILE* run_log;

// Set by a step that leaves work for a reboot (a driver package or an installer registration removed, an
// adapter whose removal needs one, a service only marked for deletion, a file in use registered for deletion).
extern bool restart_required;

// True when the command line was exactly "-auto".
extern bool automatic_mode;

// printf-style writers. Each call is flushed at once so the log is complete up to the last line
// if the process dies. The *_line forms end the line; the *_text forms leave it open.
void log_line(const char* format, ...);
void log_text(const char* format, ...);
void console_line(const char* format, ...);
void console_text(const char* format, ...);

// Names from the wide Windows interfaces (keys, paths, images) go into lines as UTF-8.
using mcl::mswin::wide_to_utf8;

} // namespace cleaner
