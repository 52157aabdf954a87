// Whole runs of FerrolinkCleaner.exe: what steps 3, 4, 5 and 7 write and leave, on a clean machine and on
// one with the client's footprint (services, adapter, driver package, installation folder, shortcuts).
#include "captured_log.h"
#include "footprint/adapter.h"
#include "footprint/driver_package.h"
#include "footprint/install_folder.h"
#include "footprint/services.h"
#include "footprint/shortcuts.h"

#include <gtest/gtest.h>

using namespace fltest;

namespace {

// The log text from the line `from` up to (not including) the line `to`.
std::string section(const std::string& log, const std::string& from, const std::string& to)
{
    const size_t begin = log.find(from);
    if (begin == std::string::npos)
        return "<no " + from + ">";
    const size_t end = log.find(to, begin);
    return log.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

class removal_run : public ::testing::Test {
protected:
    void SetUp() override { remove_footprint(); }
    void TearDown() override { remove_footprint(); }

    void remove_footprint()
    {
        for (const wchar_t* name : footprint::client_service_names)
            EXPECT_EQ(0u, footprint::remove_service(name));
        EXPECT_EQ(0u, footprint::remove_adapters(footprint::client_adapter_id_list()));
        EXPECT_EQ(0u, footprint::remove_footprint_infs());
        EXPECT_EQ(0u, footprint::remove_install_tree(install_folder_));
        EXPECT_EQ(0u, footprint::unregister_install_dir());
        EXPECT_EQ(0u, footprint::remove_shortcuts());
    }

    process_output run() const { return run_cleaner(work_.path()); }
    std::string run_log() const { return read_text(work_ / widen(kRunLogName)); }

    const std::wstring install_folder_ = footprint::default_install_folder();
    const footprint::shortcut_paths shortcuts_ = footprint::client_shortcut_paths();
    temp_folder work_;
    temp_folder driver_source_;
};

TEST_F(removal_run, a_clean_machine_passes_steps_3_to_7_with_their_not_found_lines)
{
    const process_output out = run();
    EXPECT_NE(std::string::npos, out.console.find("3.Stopping Ferrolink service..........succeed\n")) << out.console;
    const std::string log = run_log();
    EXPECT_EQ("3.Try to stop and uninstall Ferrolink Service\n"
              "ORVANE_Ferrolink have already uninstalled\n"
              "Orvane_Ferrolink_Service have already uninstalled\n"
              "\tsucceed\n",
              section(log, "3.Try", "4.Try"));
    EXPECT_EQ("4.Try to uninstall Ferrolink Driver\n"
              "\tCould not find device by SetupDiGetDeviceRegistryPropertyA.\n"
              "\tcan not find file in driver store\n",
              section(log, "4.Try", "5.Try"));
    EXPECT_EQ("5.Try to delete Ferrolink files\n"
              "\tCan not find Ferrolink InstallDir in register,try to delete default path\n"
              "\tCannot find [" + narrow(install_folder_) + "] file or folder\n"
              "\tDelete files succeed, lastError:0\n",
              section(log, "5.Try", "6.Try"));
    EXPECT_EQ("7.Try to clean Ferrolink quick link\n"
              "\tCannot find [" + narrow(shortcuts_.program_group) + "] file or folder\n"
              "\tFile [" + narrow(shortcuts_.start_menu) + "] not found or already deleted\n"
              "\tFile [" + narrow(shortcuts_.quick_launch) + "] not found or already deleted\n"
              "\tFile [" + narrow(shortcuts_.desktop) + "] not found or already deleted\n",
              section(log, "7.Try", "8.Check"));
}

TEST_F(removal_run, the_client_footprint_is_gone_after_a_run)
{
    footprint::service_options slow_stop;
    slow_stop.stop_pending_ms = 600;
    for (const wchar_t* name : footprint::client_service_names)
        ASSERT_EQ(0u, footprint::install_service(name, slow_stop));
    ASSERT_EQ(0u, footprint::add_adapter({"orvanefldrv"}));
    const std::string package = "orvanefldrv_" + std::to_string(::GetCurrentProcessId()) + ".inf";
    ASSERT_EQ(0u, footprint::publish_driver(driver_source_.path(), package, false));
    ASSERT_EQ(0u, footprint::make_install_tree(install_folder_));
    ASSERT_EQ(0u, footprint::register_install_dir(install_folder_));
    ASSERT_EQ(0u, footprint::make_shortcuts(install_folder_ + L"\\Ferrolink.exe"));

    const process_output out = run();
    EXPECT_NE(std::string::npos, out.console.find("3.Stopping Ferrolink service..........succeed\n")) << out.console;
    const std::string log = run_log();
    EXPECT_EQ("3.Try to stop and uninstall Ferrolink Service\n\tsucceed\n", section(log, "3.Try", "4.Try"));
    EXPECT_EQ("4.Try to uninstall Ferrolink Driver\n\tDelete oem file in driver store\n",
              section(log, "4.Try", "5.Try"));
    const std::string files = section(log, "5.Try", "6.Try");
    EXPECT_EQ(std::string::npos, files.find("Can not find Ferrolink InstallDir")) << files;
    EXPECT_NE(std::string::npos,
              files.find("\tTry to delete folder [" + narrow(install_folder_) + "]...succeed\n"
                         "\tDelete files succeed, lastError:0\n"))
        << files;
    const std::string shortcuts = section(log, "7.Try", "8.Check");
    EXPECT_NE(std::string::npos,
              shortcuts.find("\tTry to delete folder [" + narrow(shortcuts_.program_group) + "]...succeed\n"
                             "\tTry to delete file [" + narrow(shortcuts_.start_menu) + "]...succeed\n"
                             "\tTry to delete file [" + narrow(shortcuts_.quick_launch) + "]...succeed\n"
                             "\tTry to delete file [" + narrow(shortcuts_.desktop) + "]...succeed\n"))
        << shortcuts;

    for (const wchar_t* name : footprint::client_service_names)
        EXPECT_EQ(0u, footprint::service_state(name)) << narrow(name);
    EXPECT_TRUE(footprint::find_adapters(footprint::client_adapter_id_list()).empty());
    EXPECT_FALSE(footprint::inf_exists(package));
    EXPECT_FALSE(exists(install_folder_));
    EXPECT_TRUE(footprint::existing_shortcuts().empty());
}

} // namespace
