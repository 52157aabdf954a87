// The automatic run's log lives in the temporary folder, where any user may plant something under its name:
// whole runs of FerrolinkCleaner.exe with a folder, a hard link or an earlier log planted there.
#include "captured_log.h"
#include "cleaner/mechanisms/log_file.h"
#include "log_lines.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <functional>
#include <vector>

using namespace fltest;

namespace {


std::wstring temp_dir()
{
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    return temp;
}

std::wstring log_name(int number)
{
    if (number == 1)
        return widen(kRunLogName);
    return L"Ferrolink Cleaner Log (" + std::to_wstring(number) + L").txt";
}

std::wstring log_path(int number) { return temp_dir() + log_name(number); }

// Clears every name the run may use, before and after each case.
class AutomaticLog : public ::testing::Test {
protected:
    void SetUp() override { clear(); }
    void TearDown() override { clear(); }

    static void clear()
    {
        for (int number = 1; number <= 99; ++number) {
            ::DeleteFileW(log_path(number).c_str());
            ::RemoveDirectoryW(log_path(number).c_str());
        }
    }

    process_output run() const { return run_cleaner(work_.path(), L"-auto"); }

    temp_folder work_;
    temp_folder victims_;
};

struct planted_case {
    const char* title;
    std::function<void(const temp_folder& victims)> plant;
    int used;              // the numbered name the run logs to
    std::string earlier;   // what that file held before the run
};

void plant_folder(int number) { ASSERT_TRUE(::CreateDirectoryW(log_path(number).c_str(), nullptr)); }

// A second name of a file the run must not write to.
void plant_link(const temp_folder& victims, int number)
{
    const std::wstring victim = victims / (L"victim" + std::to_wstring(number) + L".ini");
    write_text(victim, "[victim]\n");
    ASSERT_TRUE(::CreateHardLinkW(log_path(number).c_str(), victim.c_str(), nullptr)) << ::GetLastError();
}

const planted_case kPlanted[] = {
    {"a folder under the name", [](const temp_folder&) { plant_folder(1); }, 2, ""},
    {"a hard link to another file", [](const temp_folder& v) { plant_link(v, 1); }, 2, ""},
    {"the second name taken too", [](const temp_folder& v) { plant_folder(1); plant_link(v, 2); }, 3, ""},
    {"an earlier numbered log of its own",
     [](const temp_folder&) {
         plant_folder(1);
         write_text(log_path(2), "earlier run\n");
     },
     2, "earlier run\n"},
};

TEST_F(AutomaticLog, ANameTakenBySomethingUntrustedMovesTheLogToTheNextFreeOrOwnName)
{
    for (const planted_case& c : kPlanted) {
        SCOPED_TRACE(c.title);
        clear();
        c.plant(victims_);
        const process_output out = run();

        EXPECT_EQ(0u, out.exit_code);
        const std::string announced = "Log file: " + narrow(log_path(c.used)) + "\n";
        EXPECT_TRUE(starts_with(out.console, kBanner + announced + kRule + "\nStart to Run")) << out.console;
        EXPECT_TRUE(ends_with(out.console, kSuccessConsole)) << out.console;
        const std::string log = read_text(log_path(c.used));
        EXPECT_TRUE(starts_with(log, c.earlier + kHeader)) << log;
        EXPECT_TRUE(ends_with(log, kSuccessLog)) << log;
        for (const wchar_t* victim : {L"victim1.ini", L"victim2.ini"}) {
            if (exists(victims_ / victim)) {
                EXPECT_EQ("[victim]\n", read_text(victims_ / victim)) << narrow(victim);
            }
        }
    }
}

TEST_F(AutomaticLog, TheRunStopsOnlyWhenNoNameIsLeft)
{
    for (int number = 1; number <= 99; ++number)
        plant_folder(number);
    const process_output out = run();
    EXPECT_EQ(1u, out.exit_code);
    EXPECT_EQ(kBanner + "Can not create Ferrolink Cleaner Log.txt\n", out.console);
}

// The interactive log in the current folder follows the same rules: a hard link planted under its name leaves
// the linked file as it was, and the run logs to the next name.
TEST(InteractiveLog, AHardLinkUnderTheNameIsNotWrittenTo)
{
    const temp_folder work;
    const temp_folder victims;
    const std::wstring victim = victims / L"win.ini";
    write_text(victim, "[victim]\n");
    ASSERT_TRUE(::CreateHardLinkW((work / log_name(1)).c_str(), victim.c_str(), nullptr)) << ::GetLastError();
    const process_output out = run_cleaner(work.path());
    EXPECT_EQ(0u, out.exit_code);
    EXPECT_TRUE(starts_with(out.console, kBanner + "Log file: " + narrow(log_name(2)) + "\n" + kRule)) << out.console;
    EXPECT_EQ("[victim]\n", read_text(victim));
    const std::string log = read_text(work / log_name(2));
    EXPECT_TRUE(starts_with(log, kHeader)) << log;
    EXPECT_TRUE(ends_with(log, kSuccessLog)) << log;
}

// Wine reports every file as owned by the account that runs it, so the owner rule shows only here.
TEST(LogOwner, OnlyAdministratorsSystemAndTheRunningAccountAreTrusted)
{
    const struct {
        const char* sid;
        bool trusted;
    } cases[] = {{"S-1-5-32-544", true}, {"S-1-5-18", true},  {"S-1-5-32-545", false},
                 {"S-1-1-0", false},     {"S-1-5-11", false}, {"S-1-5-21-1-2-3-1001", false}};
    for (const auto& c : cases) {
        PSID sid = nullptr;
        ASSERT_TRUE(::ConvertStringSidToSidA(c.sid, &sid));
        EXPECT_EQ(c.trusted, cleaner::trusted_log_owner(sid)) << c.sid;
        ::LocalFree(sid);
    }
    EXPECT_FALSE(cleaner::trusted_log_owner(nullptr));
}

} // namespace
