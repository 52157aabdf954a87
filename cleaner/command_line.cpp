#include "cleaner/command_line.h"

#include <cstring>

namespace cleaner {

namespace {

const char* const kHelpWords[] = {"/?", "-?", "/h", "-h", "--help"};

// Only ASCII letters fold: the locale must not decide whether a word asks for help.
char ascii_lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// `lower` is all lower case; `text` matches it whole, its ASCII letters in any case.
bool equals_ignoring_ascii_case(const char* text, const char* lower)
{
    for (; *lower != '\0'; ++text, ++lower) {
        if (ascii_lower(*text) != *lower)
            return false;
    }
    return *text == '\0';
}

bool is_help_word(const char* word)
{
    for (const char* help : kHelpWords) {
        if (equals_ignoring_ascii_case(word, help))
            return true;
    }
    return false;
}

} // namespace

run_request request_of(int argc, const char* const* argv)
{
    if (argc != 2 || argv == nullptr || argv[1] == nullptr)
        return run_request::interactive;
    if (std::strcmp(argv[1], "-auto") == 0)
        return run_request::automatic;
    if (is_help_word(argv[1]))
        return run_request::usage;
    return run_request::interactive;
}

} // namespace cleaner
