// The command interpreter: one word vector, one call on a connected client helper, a report on the console.
// Pure code against iovchelper, so it also builds natively.
#pragma once

#include "helper/iovchelper.h"

#include <cstdint>
#include <map>
#include <string>

// Root name ("HKLM") to predefined root value, and back to the name as a wide text. Filled once per process
// by init_registry_root_tables; with empty tables every root name is unknown.
extern std::map<std::string, std::uint64_t> registry_root_names;
extern std::map<std::uint64_t, std::u16string> registry_root_labels;

void init_registry_root_tables();

// What the service answered the request of one command, for a caller that must know more than the console
// says. Only commands whose request carries a reply record (-p, -u, -s, -r, -f but "list") fill it.
struct command_answer {
    bool answered = false;   // a reply came and could be read; false when the request failed or timed out
    request_result result;   // the reply, when answered: ok clear means the service refused, with its message
};

// Runs the one command of `words` (entry 0 the program name, ended by a null entry). `count` is not
// consulted. Returns -1 when the command was carried out, -2 when the usage text was printed instead; the
// outcome of the request goes to `answer` when one is given (the console report stays the same).
std::int32_t run_helper_command(iovchelper* helper, std::int32_t count, const char* const* words,
                                command_answer* answer = nullptr);

void print_usage();
