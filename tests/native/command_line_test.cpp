#include "cleaner/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using cleaner::request_of;
using cleaner::run_request;

run_request request_for(std::vector<const char*> arguments)
{
    arguments.insert(arguments.begin(), "FerrolinkCleaner.exe");
    return request_of(static_cast<int>(arguments.size()), arguments.data());
}

TEST(CommandLine, OnlyASingleHelpWordInAnyAsciiCaseAsksForTheUsage)
{
    for (const char* word : {"/?", "-?", "/h", "-h", "--help", "/H", "-H", "--HELP", "--HeLp"})
        EXPECT_EQ(run_request::usage, request_for({word})) << word;
}

TEST(CommandLine, OnlyExactlyAutoIsUnattendedAndEverythingElseIsInteractive)
{
    EXPECT_EQ(run_request::automatic, request_for({"-auto"}));
    EXPECT_EQ(run_request::interactive, request_for({}));
    const std::vector<std::vector<const char*>> interactive = {
        {"-AUTO"}, {"-Auto"}, {"-automatic"}, {"-auto", "x"}, {"/?", "x"}, {"x", "/?"}, {"-help"}, {"/help"},
        {"--h"}, {"/??"}, {"/?x"}, {"?"}, {"/"}, {""}, {"--help "}, {"/\x1f"}};
    for (const auto& arguments : interactive)
        EXPECT_EQ(run_request::interactive, request_for(arguments)) << arguments[0];
}

} // namespace
