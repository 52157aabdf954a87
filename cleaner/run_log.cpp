#include "cleaner/run_log.h"

#include <windows.h>

#include <cstdarg>

namespace cleaner {

FILE* run_log = nullptr;
bool restart_required = false;
bool automatic_mode = false;

namespace {

void write(FILE* stream, bool end_line, const char* format, va_list args)
{
    if (stream == nullptr)
        return;
    std::vfprintf(stream, format, args);
    if (end_line)
        std::fputc('\n', stream);
    std::fflush(stream);
}

} // namespace

void log_line(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    write(run_log, true, format, args);
    va_end(args);
}

void log_text(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    write(run_log, false, format, args);
    va_end(args);
}

void console_line(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    write(stdout, true, format, args);
    va_end(args);
}

void console_text(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    write(stdout, false, format, args);
    va_end(args);
}

} // namespace cleaner
