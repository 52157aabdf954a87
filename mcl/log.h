// The library's optional process-wide logger. Nothing is formatted while no logger is installed, so a program
// that never installs one (the cleaner) keeps the library silent.
#pragma once

#include <cstdio>

namespace mcl {

// Severity of every library message; a logger writes it when its level is at least this.
constexpr int message_severity = 6;

// Longest text handed to a logger; longer texts are cut and end in "...".
constexpr int max_message_length = 2047;

struct logger {
    int level = message_severity;
    std::FILE* stream = nullptr;  // the log file; without one the logger writes nothing
    bool echo = false;            // also write each text to standard output
};

// Installs the process-wide logger (null removes it). The record must outlive its installation.
void install_logger(logger* target);
logger* installed_logger();

// True when a message of the library's severity would be written.
bool log_enabled();

// Formats "[function:line] - " + the printf-formatted text and hands it to the installed logger. `function` is
// the qualified name of the calling function and `line` a source line of that function, as the prefix prints
// them. The line is a fixed number of each message, not the __LINE__ of the call, so that a message keeps its
// prefix whatever is edited around it and whatever reads the logs goes on finding it.
void log_message(const char* function, int line, const char* format, ...);

// Writes "yyyy/mm/dd hh:mm:ss, text" to the logger's stream (and the text to standard output when echo is
// set). True when at least one character was written.
bool write_log_line(const logger& target, const char* text);

} // namespace mcl

// Checks for a logger before the arguments are evaluated, so error texts are not even looked up in silence.
#define MCL_LOG(function, line, ...)                                \
    do {                                                            \
        if (::mcl::log_enabled())                                   \
            ::mcl::log_message((function), (line), __VA_ARGS__);    \
    } while (0)
