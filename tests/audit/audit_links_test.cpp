// FerrolinkAudit.exe against registry links a local user could plant where the client lets users write: the
// audit opens keys as the cleaner does, so that a link counts as present and a maze of links is never walked.
#include "audit/audit_report.h"
#include "mcl/mswin/unique_resource.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <memory>
#include <vector>

using namespace fltest;
using mcl::mswin::unique_hkey;

namespace {

const std::wstring kProductKey = L"Software\\Orvane\\SSL-VPN Ferrolink";
const std::wstring kRunLink = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\OrvaneFerrolink";
const std::wstring kMaze = L"Software\\FlTestMaze";
const int kLevels = 16;

bool create_machine_key(const std::wstring& path)
{
    unique_hkey key;
    return ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                             nullptr) == ERROR_SUCCESS;
}

std::wstring level(int number)
{
    return kMaze + L"\\L" + std::to_wstring(number);
}

// The product key holds saved profiles and two links to the maze's first level; each level links twice to the
// next, and the last holds only profiles. Followed, the maze is 2^17 walks that all end in profiles, which would
// read as "only the saved profiles are left". Row 2 exists only as a link to nothing.
class AuditLinks : public ::testing::Test {
protected:
    void TearDown() override
    {
        links_.clear();
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kMaze.c_str());
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kMaze.c_str());
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProductKey.c_str());
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kProductKey.c_str());
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Orvane");
    }

    void link(const std::wstring& path, const std::wstring& target)
    {
        links_.push_back(std::make_unique<machine_link>(path, target));
        ASSERT_TRUE(links_.back()->made()) << narrow(path);
    }

    void plant_maze()
    {
        ASSERT_TRUE(create_machine_key(kProductKey + L"\\Standalone\\Profiles\\Home"));
        ASSERT_TRUE(create_machine_key(level(kLevels) + L"\\Profiles\\Home"));
        for (int number = 1; number < kLevels; ++number)
            ASSERT_TRUE(create_machine_key(level(number)));
        for (const wchar_t* name : {L"\\a", L"\\b"}) {
            ASSERT_NO_FATAL_FAILURE(link(kProductKey + name, level(1)));
            for (int number = 1; number < kLevels; ++number)
                ASSERT_NO_FATAL_FAILURE(link(level(number) + name, level(number + 1)));
        }
        ASSERT_NO_FATAL_FAILURE(link(kRunLink, kMaze + L"\\missing"));
    }

    std::vector<std::unique_ptr<machine_link>> links_;
};

const nlohmann::json* find_item(const nlohmann::json& document, const std::string& name_part)
{
    for (const nlohmann::json& item : document["items"]) {
        if (item.at("name").get<std::string>().find(name_part) != std::string::npos)
            return &item;
    }
    return nullptr;
}

TEST_F(AuditLinks, AMazeOfLinksIsNotWalkedAndEveryLinkCountsAsPresent)
{
    ASSERT_NO_FATAL_FAILURE(plant_maze());
    const ULONGLONG start = ::GetTickCount64();
    const process_output out = run_process(L"\"" + bin_path(L"FerrolinkAudit.exe") + L"\" --json");
    const ULONGLONG elapsed = ::GetTickCount64() - start;
    EXPECT_LT(elapsed, 2000u);
    EXPECT_EQ(1u, out.exit_code) << out.console;
    const nlohmann::json document = nlohmann::json::parse(out.console, nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << out.console;
    for (const std::string& row : {"row 1 HKLM\\" + narrow(kProductKey), "row 2 HKLM\\" + narrow(kRunLink)}) {
        const nlohmann::json* item = find_item(document, row);
        ASSERT_NE(nullptr, item) << row;
        EXPECT_EQ("present", item->at("state").get<std::string>()) << row;
        EXPECT_TRUE(item->at("counted").get<bool>()) << row;
    }
}

} // namespace
