#include "captured_log.h"
#include "cleaner/steps/installer_registration.h"
#include "cleaner/steps/registry_data.h"
#include "registry_test_support.h"

#include <gtest/gtest.h>

using namespace fltest;

namespace {

const std::wstring kProducts = L"Installer\\Products";

std::wstring product_key(const wchar_t* packed)
{
    return kProducts + L"\\" + packed;
}

void expect_nothing_found()
{
    captured_log log;
    EXPECT_EQ(1, cleaner::check_installer_registration());
    EXPECT_EQ("\tCan not find Orvane Ferrolink Register\n", log.text());
    EXPECT_FALSE(cleaner::restart_required);
}

TEST(InstallerCheck, NothingRegisteredUnderTheNameIsSuccess)
{
    expect_nothing_found();
}

TEST(InstallerCheck, DeletesTheRegistrationWithTheExactNameAndAsksForARestart)
{
    installed_msi lower_case(kLowerCasePackage);
    installed_msi by_name(kByNamePackage);
    ASSERT_TRUE(lower_case.installed() && by_name.installed());
    {
        captured_log log;
        EXPECT_EQ(1, cleaner::check_installer_registration());
        EXPECT_EQ("\tFind ProductName in RegOpenKeyEx\n\tTry to delete Orvane Ferrolink Register\n", log.text());
        EXPECT_TRUE(cleaner::restart_required);
    }
    EXPECT_FALSE(key_exists(HKEY_CLASSES_ROOT, product_key(kByNamePackage.packed_product)));
    EXPECT_TRUE(key_exists(HKEY_CLASSES_ROOT, product_key(kLowerCasePackage.packed_product)));
    expect_nothing_found();
}

TEST(InstallerCheck, FindsNothingAfterTheRegistryCleanupTookTheClientsProduct)
{
    installed_msi client(kClientPackage);
    ASSERT_TRUE(client.installed());
    {
        captured_log cleanup;
        EXPECT_EQ(1, cleaner::delete_registry_data(false));
    }
    expect_nothing_found();
}

TEST(InstallerCheck, ReadsTheNameAsStoredAndPassesOverNamesThatAreNoText)
{
    // Enumerated in this order: the binary one is looked at and passed over first.
    const std::wstring binary = product_key(L"0000FFFF0000FFFF0000FFFF0000FFF1");
    const std::wstring unterminated = product_key(L"0000FFFF0000FFFF0000FFFF0000FFF2");
    const std::wstring name = L"Orvane Ferrolink";
    const DWORD bytes = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    ASSERT_TRUE(set_raw(HKEY_CLASSES_ROOT, binary, L"ProductName", REG_BINARY, name.c_str(), bytes));
    ASSERT_TRUE(set_raw(HKEY_CLASSES_ROOT, unterminated, L"ProductName", REG_SZ, name.c_str(), bytes));
    captured_log log;
    EXPECT_EQ(1, cleaner::check_installer_registration());
    const bool binary_left = key_exists(HKEY_CLASSES_ROOT, binary);
    const bool unterminated_left = key_exists(HKEY_CLASSES_ROOT, unterminated);
    delete_tree(HKEY_CLASSES_ROOT, binary);
    delete_tree(HKEY_CLASSES_ROOT, unterminated);
    EXPECT_TRUE(binary_left);
    EXPECT_FALSE(unterminated_left);
    EXPECT_EQ("\tFind ProductName in RegOpenKeyEx\n\tTry to delete Orvane Ferrolink Register\n", log.text());
}

// A walk that stopped at its bound before finding the name cannot tell that no registration is left; one that
// looked at every key can.
TEST(InstallerCheck, AWalkStoppedAtItsBoundFailsTheStep)
{
    const std::wstring first = product_key(L"0000FFFF0000FFFF0000FFFF0000FFF3");
    const std::wstring second = product_key(L"0000FFFF0000FFFF0000FFFF0000FFF4");
    ASSERT_TRUE(set_string(HKEY_CLASSES_ROOT, first, L"ProductName", L"Another Product"));
    ASSERT_TRUE(set_string(HKEY_CLASSES_ROOT, second, L"ProductName", L"Another Product"));
    const DWORD listed = static_cast<DWORD>(subkey_names(HKEY_CLASSES_ROOT, kProducts).size());
    const struct {
        DWORD most_keys;
        int result;
        std::string line;
    } cases[] = {
        {listed, 1, "\tCan not find Orvane Ferrolink Register\n"},
        {listed - 1, 0,
         "\tCan not look through every product registration: stopped after " + std::to_string(listed - 1) +
             " keys\n"},
    };
    for (const auto& c : cases) {
        captured_log log;
        EXPECT_EQ(c.result, cleaner::check_installer_registration_bounded(c.most_keys));
        EXPECT_EQ(c.line, log.text());
        EXPECT_FALSE(cleaner::restart_required);
    }
    delete_tree(HKEY_CLASSES_ROOT, first);
    delete_tree(HKEY_CLASSES_ROOT, second);
}

TEST(InstallerCheck, WithoutAProductsKeyItFails)
{
    if (!subkey_names(HKEY_CLASSES_ROOT, kProducts).empty())
        GTEST_SKIP() << "products are registered in this prefix; their key stays";

    ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteKeyW(HKEY_CLASSES_ROOT, kProducts.c_str()));
    captured_log log;
    const int result = cleaner::check_installer_registration();
    const std::string text = log.text();
    // The prefix's products key comes back as the template made it.
    ASSERT_TRUE(set_string(HKEY_CLASSES_ROOT, kProducts, L"", L""));
    EXPECT_EQ(0, result);
    EXPECT_EQ("\t Failed to RegOpenKeyEx [Installer\\Products]\n", text);
}

} // namespace
