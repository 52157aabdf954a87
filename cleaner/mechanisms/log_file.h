// Where the run log lives and how it is opened.
#pragma once

#include <windows.h>

#include <cstdio>

namespace cleaner {

// The run log as an append-mode text stream, shared for reading and writing; null when it cannot be had.
// Interactive: "Ferrolink Cleaner Log.txt" in the current folder, which the administrator chose. Automatic:
// the temporary folder (GetTempPath2W where Windows has it). Other accounts may have put something under the
// name in either place, so only a file this run can trust is written to: the fixed name, or else the first of
// "Ferrolink Cleaner Log (2).txt" to "(99).txt" that is free (made exclusively) or trustworthy (a plain file
// with one name and a trusted owner); a numbered name is announced on the console as "Log file: <path>".
FILE* open_run_log(bool automatic);

// An owner whose log file the run appends to: Administrators, SYSTEM, or the account the run itself uses.
bool trusted_log_owner(PSID owner);

} // namespace cleaner
