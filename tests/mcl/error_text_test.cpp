#include "mcl/mswin/error_text.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <thread>

namespace {

std::string system_text(DWORD code)
{
    char text[256] = {};
    const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                          0, text, sizeof text, nullptr);
    return length == 0 ? std::string() : std::string(text);
}

TEST(ErrorText, FixedTableTexts)
{
    EXPECT_STREQ(mcl::mswin::error_text(997), "I/O Operation in progress (ERROR_IO_PENDING)");
    EXPECT_STREQ(mcl::mswin::error_text(996), "I/O Operation in progress (WSA_IO_INCOMPLETE)");
    EXPECT_STREQ(mcl::mswin::error_text(31), "General failure (ERROR_GEN_FAILURE)");
    EXPECT_STREQ(mcl::mswin::error_text(10047), "Address family not supported by protocol family (WSAEAFNOSUPPORT)");
    EXPECT_STREQ(mcl::mswin::error_text(10093), "Successful WSASTARTUP not yet performed (WSANOTINITIALISED)");
    EXPECT_STREQ(mcl::mswin::error_text(11001), "Host not found (WSAHOST_NOT_FOUND)");
}

TEST(ErrorText, OtherCodesGoToTheSystem)
{
    for (DWORD code : {2ul, 5ul, 109ul, 10038ul, 10049ul}) {
        const std::string expected = system_text(code);
        const std::string text = mcl::mswin::error_text(code);
        if (expected.empty())
            EXPECT_EQ(text, "[Unknown Win32 Error]") << code;
        else
            EXPECT_EQ(text, expected) << code;
    }
    // The system's own wording, line break included.
    EXPECT_FALSE(system_text(2).empty());
    EXPECT_NE(std::string(mcl::mswin::error_text(2)).find('\n'), std::string::npos);
}

TEST(ErrorText, CodeTheSystemDoesNotKnow)
{
    EXPECT_STREQ(mcl::mswin::error_text(0x2FFFFFFF), "[Unknown Win32 Error]");
    EXPECT_STREQ(mcl::mswin::error_text(59999), "[Unknown Win32 Error]");
}

TEST(ErrorText, ThreadsDoNotOverwriteEachOthersText)
{
    const std::string two = system_text(2);
    const std::string five = system_text(5);
    ASSERT_NE(two, five);
    const char* mine = mcl::mswin::error_text(2);
    std::thread other([] { mcl::mswin::error_text(5); });
    other.join();
    EXPECT_EQ(std::string(mine), two);
}

} // namespace
