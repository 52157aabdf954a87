#include "mcl/log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>

namespace {

// A logger writing to a temporary file, installed for one test.
class LogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        file_ = std::tmpfile();
        ASSERT_NE(file_, nullptr);
        target_.stream = file_;
        mcl::install_logger(&target_);
    }

    void TearDown() override
    {
        mcl::install_logger(nullptr);
        std::fclose(file_);
    }

    std::string written()
    {
        std::fflush(file_);
        std::rewind(file_);
        std::string text;
        char chunk[512];
        std::size_t n = 0;
        while ((n = std::fread(chunk, 1, sizeof chunk, file_)) > 0)
            text.append(chunk, n);
        return text;
    }

    std::FILE* file_ = nullptr;
    mcl::logger target_;
};

TEST_F(LogTest, MessageCarriesFunctionLineAndDate)
{
    MCL_LOG("mcl::mutex::create", 72, "Failed to create mutex, error [%d:%s]", 5, "Access denied.");
    const std::string line = written();
    const std::regex form(R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}, )"
                          R"(\[mcl::mutex::create:72\] - Failed to create mutex, error \[5:Access denied\.\]\n)");
    EXPECT_TRUE(std::regex_match(line, form)) << line;
}

TEST_F(LogTest, LevelBelowSixOrNoLoggerWritesNothingAndSkipsTheArguments)
{
    int evaluated = 0;
    auto count = [&evaluated] { return ++evaluated; };
    target_.level = 5;
    MCL_LOG("f", 1, "%d", count());
    mcl::install_logger(nullptr);
    MCL_LOG("f", 2, "%d", count());
    EXPECT_EQ(evaluated, 0);
    EXPECT_EQ(written(), "");

    mcl::install_logger(&target_);
    target_.level = 6;
    MCL_LOG("f", 3, "%d", count());
    EXPECT_EQ(evaluated, 1);
    EXPECT_NE(written().find("[f:3] - 1\n"), std::string::npos);
}

TEST_F(LogTest, LongTextsAreCutTo2047Characters)
{
    const std::string body(3000, 'x');
    MCL_LOG("mcl::ipc_peer::send", 9, "%s", body.c_str());
    const std::string line = written();
    const std::size_t text_start = line.find(", [") + 2;
    const std::string text = line.substr(text_start, line.size() - text_start - 1);
    EXPECT_EQ(text.size(), 2047u);
    const std::string prefix = "[mcl::ipc_peer::send:9] - ";
    EXPECT_EQ(text.compare(0, prefix.size(), prefix), 0) << text.substr(0, 30);
    EXPECT_EQ(text.substr(text.size() - 4), "x...");
}

TEST_F(LogTest, CutNeverSplitsAUtf8Sequence)
{
    std::string body;
    while (body.size() < 2100)
        body += "\xc3\xa9";  // two-byte characters, so the cut lands inside one half the time
    MCL_LOG("f", 1, "%s", body.c_str());
    MCL_LOG("f", 12, "%s", body.c_str());
    const std::string lines = written();
    for (std::size_t at = lines.find("..."); at != std::string::npos; at = lines.find("...", at + 3)) {
        ASSERT_GE(at, 2u);
        EXPECT_EQ(lines.compare(at - 2, 2, "\xc3\xa9"), 0);
    }
    EXPECT_NE(lines.find("..."), std::string::npos);
}

TEST_F(LogTest, WithoutAStreamNothingIsWrittenNotEvenEchoed)
{
    mcl::logger silent;
    silent.echo = true;
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(mcl::write_log_line(silent, "hello"));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");

    target_.echo = true;
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(mcl::write_log_line(target_, "hello"));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "hello\n");
    EXPECT_NE(written().find(", hello\n"), std::string::npos);
}

} // namespace
