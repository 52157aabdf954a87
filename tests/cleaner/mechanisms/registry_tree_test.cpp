#include "captured_log.h"
#include "cleaner/mechanisms/component_sweep.h"
#include "cleaner/mechanisms/registry_tree.h"
#include "log_lines.h"
#include "registry_test_support.h"

#include <gtest/gtest.h>

using namespace fltest;

namespace {

// Each test works below a key of its own in HKCU, removed afterwards whatever the test left.
class RegistryTree : public ::testing::Test {
protected:
    void TearDown() override { delete_tree(HKEY_CURRENT_USER, base_); }

    std::wstring key(const std::wstring& relative) const { return base_ + L"\\" + relative; }

    const std::wstring base_ = L"Software\\" + unique_name(L"fltree");
};

// Without keeping profiles the whole tree goes, profiles too; a trailing backslash gets no second one.
TEST_F(RegistryTree, DeletesANestedTreeWithValuesWithoutALine)
{
    for (const std::wstring& path : {base_, base_ + L"\\"}) {
        SCOPED_TRACE(narrow(path));
        for (const wchar_t* relative : {L"a\\b\\c", L"a\\b\\d", L"a\\e", L"f", L"Standalone\\Profiles\\Home"})
            ASSERT_TRUE(set_string(HKEY_CURRENT_USER, key(relative), L"v", L"x"));
        captured_log log;
        EXPECT_EQ(1, cleaner::delete_registry_tree(HKEY_CURRENT_USER, path, false));
        EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, base_));
        EXPECT_EQ("", log.text());
    }
}

TEST_F(RegistryTree, AnAbsentKeyIsSuccessWithItsLine)
{
    captured_log log;
    EXPECT_EQ(1, cleaner::delete_registry_tree(HKEY_CURRENT_USER, base_ + L"\\missing", false));
    EXPECT_EQ("\tRegOpenKeyEx, Key [" + narrow(base_) + "\\missing] uninstalled succeed.\n", log.text());
}

TEST_F(RegistryTree, KeepsProfilesAndTheKeysAboveThemButDeletesTheirSiblings)
{
    ASSERT_TRUE(create_key(HKEY_CURRENT_USER, key(L"Standalone\\Profiles\\Home")));
    ASSERT_TRUE(create_key(HKEY_CURRENT_USER, key(L"Standalone\\Other\\Deep")));
    ASSERT_TRUE(create_key(HKEY_CURRENT_USER, key(L"Zeta")));
    captured_log log;
    EXPECT_EQ(0, cleaner::delete_registry_tree(HKEY_CURRENT_USER, base_, true));
    EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, key(L"Standalone\\Profiles\\Home")));
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, key(L"Standalone\\Other")));
    // A failing "Standalone" does not end the enumeration: the subkey after it goes as well.
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, key(L"Zeta")));
    // Only the product key itself is spared its failure line; this one is not the product key.
    EXPECT_EQ("\tFail to delete reg key [" + narrow(key(L"Standalone")) + "], lastError:5\n" +
                  "\tFail to delete reg key [" + narrow(base_) + "], lastError:5\n",
              log.text());
}

TEST_F(RegistryTree, AFailingSubkeyOtherThanStandaloneStopsTheEnumeration)
{
    // Its "Profiles" keeps "Alpha", and so "Beta" behind it is not reached.
    ASSERT_TRUE(create_key(HKEY_CURRENT_USER, key(L"Alpha\\Profiles")));
    ASSERT_TRUE(create_key(HKEY_CURRENT_USER, key(L"Beta")));
    captured_log log;
    EXPECT_EQ(0, cleaner::delete_registry_tree(HKEY_CURRENT_USER, base_, true));
    EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, key(L"Alpha\\Profiles")));
    EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, key(L"Beta")));
    EXPECT_EQ(2u, lines_starting_with(log.text(), "\tFail to delete reg key [").size());
}

TEST_F(RegistryTree, AnOverLongChildPathIsRefusedAndNothingGoesUnderAShortenedName)
{
    const std::wstring level1 = key(std::wstring(200, L'a'));
    const std::wstring level2 = level1 + L"\\" + std::wstring(200, L'b');
    const std::wstring level3 = level2 + L"\\" + std::wstring(200, L'c');
    ASSERT_GE(level3.size(), cleaner::kKeyPathBuffer);
    ASSERT_LT(level2.size(), cleaner::kKeyPathBuffer);
    ASSERT_TRUE(create_key(HKEY_CURRENT_USER, level3));
    // The key a path cut to the buffer would name.
    const std::wstring shortened = level3.substr(0, cleaner::kKeyPathBuffer - 1);
    ASSERT_TRUE(create_key(HKEY_CURRENT_USER, shortened));

    captured_log refused;
    EXPECT_EQ(0, cleaner::delete_registry_tree(HKEY_CURRENT_USER, level3, false));
    EXPECT_EQ("\tFail to delete reg key [" + narrow(level3) + "], lastError:206\n", refused.text());
    EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, level3));
    EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, shortened));

    captured_log recursion;
    EXPECT_EQ(0, cleaner::delete_registry_tree(HKEY_CURRENT_USER, base_, false));
    EXPECT_EQ("\tFail to delete reg key [" + narrow(level3) + "], lastError:206",
              lines_starting_with(recursion.text(), "\tFail").at(0));
    EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, level3));
    EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, level2));
}

TEST_F(RegistryTree, AnEmptyPathNeverReachesTheRoot)
{
    ASSERT_TRUE(create_key(HKEY_CURRENT_USER, base_));
    captured_log log;
    EXPECT_EQ(0, cleaner::delete_registry_tree(HKEY_CURRENT_USER, L"", false));
    EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, base_));
    EXPECT_EQ("\tFail to delete reg key [], lastError:87\n", log.text());
}

// A link below `parent` to `target` (a kernel path such as "\\Registry\\Machine\\Software\\x"), removed again
// as the link on destruction.
class registry_link {
public:
    registry_link(const std::wstring& parent, const wchar_t* name, const std::wstring& target)
        : path_(parent + L"\\" + name)
    {
        HKEY created = nullptr;
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS,
                              nullptr, &created, nullptr) != ERROR_SUCCESS)
            return;
        const unique_hkey link(created);
        made_ = ::RegSetValueExW(link.get(), L"SymbolicLinkValue", 0, REG_LINK,
                                 reinterpret_cast<const BYTE*>(target.c_str()),
                                 static_cast<DWORD>(target.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
    }
    ~registry_link()
    {
        const unique_hkey link = open_key(HKEY_CURRENT_USER, path_, KEY_ALL_ACCESS, REG_OPTION_OPEN_LINK);
        if (link)
            ::RegDeleteKeyW(link.get(), L"");
    }
    bool made() const { return made_; }
    bool exists() const { return static_cast<bool>(open_key(HKEY_CURRENT_USER, path_, KEY_READ, REG_OPTION_OPEN_LINK)); }

private:
    std::wstring path_;
    bool made_ = false;
};

// A link to a missing key is listed by its parent but cannot be opened by name; as the link itself it goes.
TEST_F(RegistryTree, ASubkeyThatStaysListedAfterReportedGoneEndsThePass)
{
    ASSERT_TRUE(create_key(HKEY_CURRENT_USER, key(L"after")));
    registry_link link(base_, L"dangling", L"\\Registry\\Machine\\Software\\" + unique_name(L"flmissing"));
    ASSERT_TRUE(link.made());
    captured_log log;
    EXPECT_EQ(1, cleaner::delete_registry_tree(HKEY_CURRENT_USER, base_, false));
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, base_));
    EXPECT_EQ("", log.text());
}

// A link below the client's key, or the key itself being one, never leads the deleter to the key it names.
TEST_F(RegistryTree, ALinkIsDeletedAsALinkAndItsTargetSurvives)
{
    const std::wstring target = L"Software\\" + unique_name(L"fltarget");
    for (const wchar_t* deleted : {L"", L"\\link"}) {
        SCOPED_TRACE(narrow(deleted));
        ASSERT_TRUE(set_string(HKEY_LOCAL_MACHINE, target + L"\\a\\b", L"v", L"keep"));
        ASSERT_TRUE(create_key(HKEY_CURRENT_USER, key(L"own")));
        registry_link link(base_, L"link", L"\\Registry\\Machine\\" + target);
        ASSERT_TRUE(link.made());
        captured_log log;
        EXPECT_EQ(1, cleaner::delete_registry_tree(HKEY_CURRENT_USER, base_ + deleted, false));
        EXPECT_FALSE(link.exists());
        EXPECT_TRUE(value_exists(HKEY_LOCAL_MACHINE, target + L"\\a\\b", L"v"));
        EXPECT_EQ("", log.text());
    }
    delete_tree(HKEY_LOCAL_MACHINE, target);
}

// The components sweep over a Components key of the test's own.
class ComponentSweep : public RegistryTree {
protected:
    std::wstring components() const { return base_ + L"\\Components\\"; }
    std::wstring component(const wchar_t* name) const { return components() + name; }

    const std::wstring product_ = L"41A8E2C5D3B706F4A9E1D2C4B6F8A013";
};

TEST_F(ComponentSweep, RemovesOnlyTheProductsValueAndTheKeysLeftEmpty)
{
    // Alone: the key goes. Shared, listed after the other product's value: only our value goes.
    ASSERT_TRUE(set_string(HKEY_CURRENT_USER, component(L"ALONE"), product_, L"02:\\x"));
    ASSERT_TRUE(set_string(HKEY_CURRENT_USER, component(L"SHARED"), L"29E7D14C80A536B4F8E2D6910A7B3C45", L"y"));
    ASSERT_TRUE(set_string(HKEY_CURRENT_USER, component(L"SHARED"), product_, L"02:\\x"));
    // A subkey keeps the key even when our value was its only value.
    ASSERT_TRUE(set_string(HKEY_CURRENT_USER, component(L"WITHSUB"), product_, L"x"));
    ASSERT_TRUE(create_key(HKEY_CURRENT_USER, component(L"WITHSUB\\sub")));
    ASSERT_TRUE(set_string(HKEY_CURRENT_USER, component(L"UNRELATED"), L"15C3E7B942D6F8A41B0EC7D5F2A9E386", L"z"));
    // A name in another letter case is another product; large values before ours do not hide it.
    std::wstring lower = product_;
    ::CharLowerW(&lower[0]);
    ASSERT_TRUE(set_string(HKEY_CURRENT_USER, component(L"LOWER"), lower, L"x"));
    const std::wstring big(3000, L'd');
    ASSERT_TRUE(set_string(HKEY_CURRENT_USER, component(L"BIG"), L"00000000000000000000000000000000", big));
    ASSERT_TRUE(set_string(HKEY_CURRENT_USER, component(L"BIG"), product_, big));

    captured_log log;
    EXPECT_EQ(1, cleaner::sweep_components_under(HKEY_CURRENT_USER, components(), product_));
    EXPECT_EQ("", log.text());
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, component(L"ALONE")));
    EXPECT_FALSE(value_exists(HKEY_CURRENT_USER, component(L"SHARED"), product_));
    EXPECT_TRUE(value_exists(HKEY_CURRENT_USER, component(L"SHARED"), L"29E7D14C80A536B4F8E2D6910A7B3C45"));
    EXPECT_FALSE(value_exists(HKEY_CURRENT_USER, component(L"WITHSUB"), product_));
    EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, component(L"WITHSUB\\sub")));
    EXPECT_TRUE(value_exists(HKEY_CURRENT_USER, component(L"UNRELATED"), L"15C3E7B942D6F8A41B0EC7D5F2A9E386"));
    EXPECT_TRUE(value_exists(HKEY_CURRENT_USER, component(L"LOWER"), lower));
    EXPECT_FALSE(value_exists(HKEY_CURRENT_USER, component(L"BIG"), product_));
    EXPECT_TRUE(value_exists(HKEY_CURRENT_USER, component(L"BIG"), L"00000000000000000000000000000000"));
}

TEST_F(ComponentSweep, AMissingComponentsKeyIsSuccessWithItsLine)
{
    captured_log log;
    EXPECT_EQ(1, cleaner::sweep_components_under(HKEY_CURRENT_USER, components(), product_));
    EXPECT_EQ("\tRegOpenKeyEx, Key [" + narrow(components()) + "] uninstalled succeed.\n", log.text());
}

} // namespace
