#include "helper_fixture.h"

#include "double_control.h"

#include <cstdio>

namespace helpertest {

helper_ptr make_helper() { return helper_ptr(dynamic_cast<ovchelper*>(create_helper())); }

std::string frame_text(std::uint32_t kind, std::uint32_t id, const std::string& payload_hex)
{
    char head[64] = {};
    std::snprintf(head, sizeof(head), "kind=%u id=0x%08X payload=", kind, id);
    return head + payload_hex;
}

service_double::service_double(const std::string& script)
    : name_(fltest::narrow(fltest::unique_name(L"fl_helper_test_ps_"))),
      script_path_(fltest::narrow(folder_ / L"script.txt")),
      log_path_(fltest::narrow(folder_ / L"double.log"))
{
    rewrite_script(script);
    installed_ = protection_double::install(name_, script_path_, log_path_);
}

service_double::~service_double()
{
    if (installed_)
        protection_double::uninstall(name_);
}

void service_double::rewrite_script(const std::string& script)
{
    protection_double::write_text_file(script_path_, script);
}

bool service_double::start() { return protection_double::start(name_); }

bool service_double::stop() { return protection_double::stop(name_); }

std::vector<std::string> service_double::log_lines() { return protection_double::read_lines(log_path_); }

std::string service_double::log()
{
    std::string text;
    for (const std::string& line : log_lines())
        text += line + "\n";
    return text;
}

std::vector<std::string> service_double::frames()
{
    std::vector<std::string> found;
    for (const protection_double::logged_frame& frame : protection_double::frames_in(log_lines()))
        found.push_back(frame_text(frame.kind, frame.id, frame.payload_hex));
    return found;
}

std::size_t service_double::count_frames(std::uint32_t id)
{
    return protection_double::frames_with_id(log_lines(), id).size();
}

silent_service::silent_service()
    : name_(fltest::narrow(fltest::unique_name(L"fl_helper_test_silent_"))),
      manager_(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS))
{
    if (!manager_)
        return;
    const std::wstring binary_path = L"\"" + fltest::bin_path(L"test_service.exe") + L"\"";
    service_.reset(::CreateServiceW(manager_.get(), fltest::widen(name_).c_str(), nullptr, SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                    binary_path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service_ || !::StartServiceW(service_.get(), 0, nullptr))
        return;
    running_ = eventually([&] {
        SERVICE_STATUS status{};
        return ::QueryServiceStatus(service_.get(), &status) && status.dwCurrentState == SERVICE_RUNNING;
    });
}

silent_service::~silent_service()
{
    if (!service_)
        return;
    SERVICE_STATUS status{};
    if (::ControlService(service_.get(), SERVICE_CONTROL_STOP, &status))
        eventually([&] { return ::QueryServiceStatus(service_.get(), &status) && status.dwCurrentState == SERVICE_STOPPED; });
    ::DeleteService(service_.get());
}

connected_helper::connected_helper(const std::string& script) : service(script) {}

void connected_helper::SetUp()
{
    ASSERT_TRUE(service.installed());
    ASSERT_TRUE(service.start());
    helper = make_helper();
    ASSERT_TRUE(helper);
    ASSERT_TRUE(helper->connect(2000, service.name()));
    helper->proto_compatible();
}

} // namespace helpertest
