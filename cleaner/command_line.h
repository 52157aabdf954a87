// What the command line asks of the cleaner. Portable: it only compares the argument texts.
#pragma once

namespace cleaner {

enum class run_request { interactive, automatic, usage };

// `automatic` only for exactly one argument equal to "-auto" (case-sensitive); `usage` only for exactly one
// argument equal to "/?", "-?", "/h", "-h" or "--help", ASCII letters in any case; every other command line,
// none included, is an interactive run.
run_request request_of(int argc, const char* const* argv);

} // namespace cleaner
