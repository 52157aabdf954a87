#include "mcl/log.h"

#include <atomic>
#include <cstdarg>
#include <cstring>
#include <ctime>

namespace mcl {

namespace {

std::atomic<logger*> current_logger{nullptr};

bool local_time(std::time_t now, std::tm& out)
{
#ifdef _WIN32
    return localtime_s(&out, &now) == 0;
#else
    return localtime_r(&now, &out) != nullptr;
#endif
}

// Ends a text that did not fit with "...", without splitting a UTF-8 sequence.
void mark_cut(char* text)
{
    std::size_t cut = static_cast<std::size_t>(max_message_length) - 3;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    std::memcpy(text + cut, "...", 4);
}

} // namespace

void install_logger(logger* target) { current_logger.store(target); }

logger* installed_logger() { return current_logger.load(); }

bool log_enabled()
{
    const logger* target = current_logger.load();
    return target != nullptr && target->level >= message_severity;
}

void log_message(const char* function, int line, const char* format, ...)
{
    logger* target = current_logger.load();
    if (target == nullptr || target->level < message_severity)
        return;

    char text[max_message_length + 1];
    int prefix = std::snprintf(text, sizeof text, "[%s:%d] - ", function != nullptr ? function : "", line);
    if (prefix < 0)
        return;
    bool cut = prefix > max_message_length;
    if (!cut) {
        va_list args;
        va_start(args, format);
        const int body = std::vsnprintf(text + prefix, sizeof text - static_cast<std::size_t>(prefix), format, args);
        va_end(args);
        cut = body > 0 && prefix + body > max_message_length;
    }
    if (cut)
        mark_cut(text);
    write_log_line(*target, text);
}

bool write_log_line(const logger& target, const char* text)
{
    if (target.stream == nullptr)
        return false;
    std::tm when{};
    if (!local_time(std::time(nullptr), when))
        std::memset(&when, 0, sizeof when);
    const int written = std::fprintf(target.stream, "%04d/%02d/%02d %02d:%02d:%02d, %s\n", when.tm_year + 1900,
                                     when.tm_mon + 1, when.tm_mday, when.tm_hour, when.tm_min, when.tm_sec, text);
    std::fflush(target.stream);
    int echoed = 0;
    if (target.echo) {
        echoed = std::printf("%s\n", text);
        std::fflush(stdout);
    }
    return written > 0 || echoed > 0;
}

} // namespace mcl
