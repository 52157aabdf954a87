#pragma once

namespace cleaner {

// The whole run: mode, banner, run log, the removal steps in their order, verdict, restart notice, pause.
// A request for help (see command_line.h) prints the usage only. Returns the process exit code: 0 success (and
// help), 3010 success that needs a restart, 1603 failure, 1 when the run log cannot be opened.
int run_cleaner(int argc, char** argv);

} // namespace cleaner
