// The protection-service double, installed and started as a real service and spoken to by a plain peer.
#include "double_control.h"
#include "test_support.h"

#include "mcl/ipc_peer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

namespace pd = protection_double;

std::string z(const std::string& text)
{
    return text + std::string(1, '\0');
}

pd::bytes raw(const std::string& text)
{
    return pd::bytes(text.begin(), text.end());
}

mcl::binary_t binary(const pd::bytes& data)
{
    return mcl::binary_t(data.data(), static_cast<std::uint32_t>(data.size()));
}

// Installs the double under a name of its own with `script`, and removes it on destruction.
struct installed_double {
    explicit installed_double(const std::string& script)
        : name(fltest::narrow(fltest::unique_name(L"pdouble_"))),
          script_path(fltest::narrow(folder / L"script.txt")),
          log_path(fltest::narrow(folder / L"frames.log"))
    {
        pd::write_text_file(script_path, script);
        installed = pd::install(name, script_path, log_path, false, &why) && pd::start(name, &why);
    }
    ~installed_double() { pd::uninstall(name); }

    std::vector<std::string> log() const { return pd::read_lines(log_path); }
    bool logged(const std::string& line) const
    {
        return fltest::eventually([&] {
            const auto lines = log();
            return std::find(lines.begin(), lines.end(), line) != lines.end();
        });
    }

    fltest::temp_folder folder;
    std::string name;
    std::string script_path;
    std::string log_path;
    std::string why;
    bool installed = false;
};

struct exchange {
    const char* what;
    std::uint32_t id;
    std::string request;
    std::string reply;
};

TEST(ProtectionDouble, AnswersFromScriptAndModelAndLogsEveryFrame)
{
    installed_double service("version@1 1 7\non 0x1000006 result 0 already paused\n");
    ASSERT_TRUE(service.installed) << service.why;
    mcl::ipc_peer client;
    ASSERT_TRUE(client.connect(service.name.c_str(), 5000));

    const std::string abc_protected = std::string("\x01\x00\x00\x00\x01\x01", 6) + z("abc");
    const std::string abc_unprotected = std::string("\x01\x00\x00\x00\x00\x00", 6) + z("abc");
    const std::string abc_record = std::string("\x01\x00\x00\x00\x01\x01", 6) + z("D:(A;;GA;;;SY)(A;;GR;;;BA)") +
                                   z("D:P(A;OICI;FA;;;SY)(A;OICI;GRGX;;;BA)") + z("abc") + z("S-1-5-80-0") +
                                   std::string(4, '\0');
    const exchange exchanges[] = {
        {"version of connection 1", 0x1000009, std::string("\x05\x00\x00\x00", 4), std::string("\x01\x07\x00\x00\x00", 5)},
        {"scripted result", 0x1000006, "", std::string("\x00", 1) + z("already paused")},
        {"protect abc", 0x1000002, abc_protected, std::string("\x01\x00", 2)},
        {"abc listed", 0x1000004, std::string("\x00", 1), abc_record},
        {"unprotect abc", 0x1000002, abc_unprotected, std::string("\x01\x00", 2)},
        {"nothing listed", 0x1000004, std::string("\x00", 1), std::string(4, '\0')},
    };
    for (const exchange& each : exchanges) {
        mcl::binary_t payload = binary(raw(each.request));
        ASSERT_TRUE(client.send(each.id, payload, client.connection_at(0))) << each.what;
        EXPECT_EQ(pd::bytes(payload.begin(), payload.end()), raw(each.reply)) << each.what;
    }
    client.disconnect();
    ASSERT_TRUE(service.logged("disconnect 1"));

    const std::vector<std::string> lines = service.log();
    ASSERT_EQ(lines.size(), 2 + std::size(exchanges));
    EXPECT_EQ(lines.front(), "connect 1");
    EXPECT_EQ(lines[1], "frame 1 kind=0 id=0x01000009 seq=1 payload=05000000");
    const auto protects = pd::frames_with_id(lines, 0x1000002);
    ASSERT_EQ(protects.size(), 2u);
    EXPECT_EQ(protects[0].payload_hex, "01000000010161626300");
    EXPECT_EQ(protects[0].payload, raw(abc_protected));
    EXPECT_EQ(protects[1].sequence, 5u);
    EXPECT_EQ(lines.back(), "disconnect 1");
}

TEST(ProtectionDouble, DropAndExitEndTheConnectionAndTheProcess)
{
    installed_double service("version@1 0 2\non 0x1000007 drop\non 0x1000008 exit\n");
    ASSERT_TRUE(service.installed) << service.why;
    mcl::ipc_peer first;
    ASSERT_TRUE(first.connect(service.name.c_str(), 5000));
    mcl::binary_t payload = binary({1});
    EXPECT_FALSE(first.send(0x1000007, payload, first.connection_at(0)));
    EXPECT_TRUE(service.logged("disconnect 1"));

    // The next connection has the default version reply: version@1 was for the first one only.
    mcl::ipc_peer second;
    ASSERT_TRUE(second.connect(service.name.c_str(), 5000));
    payload = binary({5, 0, 0, 0});
    ASSERT_TRUE(second.send(0x1000009, payload, second.connection_at(0)));
    EXPECT_EQ(pd::bytes(payload.begin(), payload.end()), pd::bytes({1, 5, 0, 0, 0}));

    const DWORD started = ::GetTickCount();
    payload = binary({1});
    EXPECT_FALSE(second.send(0x1000008, payload, second.connection_at(0)));
    EXPECT_LT(::GetTickCount() - started, 5000u);
    EXPECT_TRUE(service.logged("frame 2 kind=0 id=0x01000008 seq=2 payload=01"));
    EXPECT_TRUE(fltest::eventually([&] { return !pd::is_running(service.name); }));

    // Started again, a new process listens.
    ASSERT_TRUE(pd::start(service.name, &service.why)) << service.why;
    mcl::ipc_peer third;
    EXPECT_TRUE(third.connect(service.name.c_str(), 2000));
}

} // namespace
