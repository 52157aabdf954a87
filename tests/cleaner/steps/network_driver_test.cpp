// Step 4 against the real device tree and driver store: adapters with the client's hardware ids and INF
// packages whose names carry the client's driver marker.
#include "captured_log.h"
#include "cleaner/mechanisms/code_page.h"
#include "cleaner/steps/network_driver.h"
#include "fake_client/adapter.h"
#include "fake_client/driver_package.h"

#include <gtest/gtest.h>

using namespace fltest;

namespace {

const char kNoDevice[] = "\tCould not find device by SetupDiGetDeviceRegistryPropertyA.\n";
const char kNoPackage[] = "\tcan not find file in driver store\n";
const char kPackageDeleted[] = "\tDelete oem file in driver store\n";

std::string with_pid(const char* prefix)
{
    return prefix + std::to_string(::GetCurrentProcessId()) + ".inf";
}

class DriverRemoval : public ::testing::Test {
protected:
    void SetUp() override { remove_footprint(); }
    void TearDown() override { remove_footprint(); }

    void remove_footprint()
    {
        EXPECT_EQ(0u, fake_client::remove_adapters(adapter_ids()));
        EXPECT_EQ(0u, fake_client::remove_footprint_infs());
    }

    std::vector<std::string> adapter_ids() const
    {
        std::vector<std::string> ids = fake_client::client_adapter_id_list();
        ids.push_back(vendor_id_);
        return ids;
    }

    void publish(const std::string& inf_name)
    {
        std::string published;
        ASSERT_EQ(0u, fake_client::publish_driver(source_.path(), inf_name, false, &published));
        // The driver store here publishes an INF without a catalog under its own name.
        ASSERT_EQ(inf_name, published);
    }

    const std::string vendor_id_ = "vendor_nic_" + std::to_string(::GetCurrentProcessId());
    temp_folder source_;
};

TEST_F(DriverRemoval, AMachineWithoutTheClientPassesWithTwoNotFoundLines)
{
    captured_log log;
    EXPECT_EQ(1, cleaner::remove_driver());
    EXPECT_EQ(std::string(kNoDevice) + kNoPackage, log.text());
    EXPECT_FALSE(cleaner::restart_required);
}

// Only the first hardware id counts, compared without regard to case.
TEST_F(DriverRemoval, AdaptersWhoseFirstIdIsAClientIdAreRemovedAndNoOther)
{
    ASSERT_EQ(0u, fake_client::add_adapter({"ORVANEFLDRV"}));
    ASSERT_EQ(0u, fake_client::add_adapter({"SslVpnFerrolinkSslDrv", vendor_id_}));
    ASSERT_EQ(0u, fake_client::add_adapter({"quellmarkssldrv"}));
    std::string bystander;
    ASSERT_EQ(0u, fake_client::add_adapter({vendor_id_, "orvanefldrv"}, &bystander));
    ASSERT_EQ(4u, fake_client::find_adapters(adapter_ids()).size());

    captured_log log;
    EXPECT_EQ(1, cleaner::remove_driver());
    EXPECT_EQ(kNoPackage, log.text());
    EXPECT_FALSE(cleaner::restart_required);
    const std::vector<fake_client::adapter> left = fake_client::find_adapters(adapter_ids());
    ASSERT_EQ(1u, left.size());
    EXPECT_EQ(bystander, left[0].instance_id);
}

// Both markers are case-sensitive; an INF whose name begins with a capital "O" is never a candidate, even
// when its name carries the marker.
TEST_F(DriverRemoval, PackagesCarryingEitherMarkerAreDeletedAndSetRestartRequired)
{
    const std::string lower_marker = with_pid("orvanefldrv_");
    const std::string mixed_marker = with_pid("orvane_FlDrv_");
    const std::string capitals = with_pid("orvaneFLDRV_caps_");
    const std::string capital_o = with_pid("Orvane_fldrv_placed_");
    publish(lower_marker);
    publish(mixed_marker);
    publish(capitals);
    ASSERT_EQ(0u, fake_client::place_inf(capital_o));

    captured_log log;
    EXPECT_EQ(1, cleaner::remove_driver());
    EXPECT_EQ(std::string(kNoDevice) + kPackageDeleted + kPackageDeleted, log.text());
    EXPECT_TRUE(cleaner::restart_required);
    EXPECT_FALSE(fake_client::inf_exists(lower_marker));
    EXPECT_FALSE(fake_client::inf_exists(mixed_marker));
    EXPECT_TRUE(fake_client::inf_exists(capitals));
    EXPECT_TRUE(fake_client::inf_exists(capital_o));
}

TEST_F(DriverRemoval, AdapterAndPackageTogether)
{
    ASSERT_EQ(0u, fake_client::add_adapter({"orvanefldrv"}));
    publish(with_pid("orvanefldrv_"));
    captured_log log;
    EXPECT_EQ(1, cleaner::remove_driver());
    EXPECT_EQ(kPackageDeleted, log.text());
    EXPECT_TRUE(cleaner::restart_required);
    EXPECT_TRUE(fake_client::find_adapters(fake_client::client_adapter_id_list()).empty());
}

// A package of the client that the driver store keeps (here its published INF is read-only, so the store
// cannot delete it) is named in the log with the error, and the step fails.
TEST_F(DriverRemoval, APackageTheStoreKeepsIsLoggedWithItsErrorAndFailsTheStep)
{
    const std::string kept = with_pid("orvanefldrv_kept_");
    publish(kept);
    const std::wstring inf = fake_client::inf_folder() + L"\\" + widen(kept);
    ASSERT_TRUE(::SetFileAttributesW(inf.c_str(), FILE_ATTRIBUTE_READONLY));
    captured_log log;
    const int result = cleaner::remove_driver();
    ::SetFileAttributesW(inf.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(0, result);
    EXPECT_EQ(std::string(kNoDevice) + "\tFailed to delete " + kept + " from driver store, lastError:5\n", log.text());
    EXPECT_TRUE(fake_client::inf_exists(kept));
}

// A linguistic comparison ignores the soft hyphen and would take this adapter for the client's.
TEST_F(DriverRemoval, AnAdapterIdWithAnIgnorableCharacterIsNotTheClients)
{
    const std::string lookalike = "orvane\xAD" "fldrv";
    ASSERT_EQ(0u, fake_client::add_adapter({lookalike}));
    captured_log log;
    EXPECT_EQ(1, cleaner::remove_driver());
    EXPECT_EQ(std::string(kNoDevice) + kNoPackage, log.text());
    EXPECT_EQ(1u, fake_client::find_adapters({lookalike}).size());
    EXPECT_EQ(0u, fake_client::remove_adapters({lookalike}));
}

// Package names go to the narrow SetupAPI calls only when they convert exactly, with the flags each code
// page allows: under the UTF-8 code page ("Use Unicode UTF-8") every proper name does.
TEST(CodePage, NamesConvertExactlyOrNotAtAll)
{
    struct conversion {
        UINT code_page;
        const wchar_t* name;
        const char* narrow;  // null: no exact form
    };
    const conversion cases[] = {
        {CP_UTF8, L"oem12.inf", "oem12.inf"},
        {CP_UTF8, L"oem\u00E9.inf", "oem\xC3\xA9.inf"},
        {CP_UTF8, L"oem\xD800.inf", nullptr},
        {1252, L"oem12.inf", "oem12.inf"},
        {1252, L"oem\u00E9.inf", "oem\xE9.inf"},
        {1252, L"oem\uFF0E\uFF0E.inf", nullptr},
        {1252, L"oem\u0131.inf", nullptr},
    };
    for (const conversion& c : cases) {
        SCOPED_TRACE(narrow(c.name) + " in " + std::to_string(c.code_page));
        std::string converted;
        EXPECT_EQ(c.narrow != nullptr, cleaner::to_code_page_exactly(c.code_page, c.name, converted));
        if (c.narrow != nullptr) {
            EXPECT_EQ(c.narrow, converted);
        }
    }
}

} // namespace
