// The protection-service double's pure parts: its script, its model (spoken to with the client's own encoders
// and decoders, so both sides agree on every record layout) and its log lines.
#include "helper/helper_wire.h"
#include "log_format.h"
#include "model.h"
#include "script.h"

#include <gtest/gtest.h>

namespace {

namespace pd = protection_double;

mcl::binary_t binary(const pd::bytes& data)
{
    return mcl::binary_t(data.data(), static_cast<std::uint32_t>(data.size()));
}

template <typename Record>
pd::bytes request(const std::vector<Record>& records)
{
    mcl::binary_t payload;
    helper_wire::encode(payload, records);
    return pd::bytes(payload.begin(), payload.end());
}

template <typename Record>
std::vector<Record> query(pd::model& model, std::uint32_t id)
{
    pd::bytes reply;
    std::vector<Record> list;
    EXPECT_TRUE(model.answer(id, pd::bytes{0}, pd::version_reply(), reply));
    EXPECT_TRUE(helper_wire::decode_list(binary(reply), list));
    return list;
}

pd::bytes answer(pd::model& model, std::uint32_t id, const pd::bytes& payload)
{
    pd::bytes reply;
    EXPECT_TRUE(model.answer(id, payload, pd::version_reply(), reply));
    return reply;
}

TEST(ProtectionDoubleModel, ProtectsUnprotectsAndListsWhatTheClientDecodes)
{
    pd::model model([](const std::string& name) {
        return name == "Svc" ? std::u16string(u"\"C:\\Orvane\\svc.exe\" -run") : std::u16string();
    });
    const pd::bytes ok{1, 0};
    EXPECT_EQ(answer(model, pd::message::services, request(std::vector<service_protection>{{1, 1, "Svc"}, {1, 0, "x"}})), ok);
    EXPECT_EQ(answer(model, pd::message::processes, request(std::vector<process_protection>{{1, u"C:\\p\\a.exe"}})), ok);
    const registry_protection key{1, hkey_local_machine, u"Software\\Orvane", "Svc", {"a", "b"}, 1};
    EXPECT_EQ(answer(model, pd::message::registry_keys, request(std::vector<registry_protection>{key})), ok);

    const auto services = query<protected_service>(model, pd::message::query_services);
    ASSERT_EQ(services.size(), 2u);
    EXPECT_EQ(services[0].service_name, "Svc");
    EXPECT_EQ(services[0].binary_path, u"\"C:\\Orvane\\svc.exe\" -run");
    EXPECT_EQ(services[0].reference_folder, u"C:\\Orvane");
    EXPECT_EQ(services[0].service_sid, "S-1-5-80-0");
    EXPECT_EQ(services[1].process_level, 0);
    const auto keys = query<protected_registry_key>(model, pd::message::query_registry_keys);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].root, hkey_local_machine);
    EXPECT_EQ(keys[0].subkey, key.subkey);
    EXPECT_EQ(keys[0].owner_service, "Svc");
    EXPECT_EQ(keys[0].full_access_services, key.full_access_services);
    const auto folders = query<protected_folder>(model, pd::message::query_folders);
    ASSERT_EQ(folders.size(), 2u);
    EXPECT_EQ(folders[1].folder_path, u"C:\\p");

    // Unprotecting matches ignoring ASCII case; a payload that does not decode changes nothing.
    EXPECT_EQ(answer(model, pd::message::services, request(std::vector<service_protection>{{0, 0, "SVC"}})), ok);
    const registry_protection off{0, hkey_local_machine, u"SOFTWARE\\orvane", "", {}, 0};
    EXPECT_EQ(answer(model, pd::message::registry_keys, request(std::vector<registry_protection>{off})), ok);
    EXPECT_EQ(answer(model, pd::message::processes, pd::bytes{1, 0, 0, 0, 0})[0], 0);
    EXPECT_EQ(query<protected_service>(model, pd::message::query_services).size(), 1u);
    EXPECT_TRUE(query<protected_registry_key>(model, pd::message::query_registry_keys).empty());
    EXPECT_EQ(query<protected_process>(model, pd::message::query_processes).size(), 1u);
}

TEST(ProtectionDoubleScript, EachDirectiveAndEachBadLine)
{
    const pd::script parsed = pd::parse_script(
        "# comment\r\n"
        "version 0 3\n"
        "version@2 1 0x10\n"
        "on 0x1000006 result 1 done \n"
        "on 7 delay 100 delay 20 bytes 0aFF\n"
        "on 8 send 0x99 0102\n"
        "on 8 post 9\n"
        "on 8 none\n"
        "on 9 bytes 0g\n"
        "on 9 result 256\n"
        "version@0 1 1\n"
        "protect reg HKLM Software\\A B\n"
        "protect reg HKXX S\n"
        "protect service S1 S-1-2\n"
        "frobnicate\n");
    EXPECT_EQ(parsed.version_of(1).compatible, 0);
    EXPECT_EQ(parsed.version_of(2).version, 0x10u);
    ASSERT_NE(parsed.find(0x1000006), nullptr);
    EXPECT_EQ(parsed.find(0x1000006)->reply.reply, (pd::bytes{1, 'd', 'o', 'n', 'e', ' ', 0}));
    ASSERT_NE(parsed.find(7), nullptr);
    EXPECT_EQ(parsed.find(7)->reply.delay_ms, 120u);
    EXPECT_EQ(parsed.find(7)->reply.reply, (pd::bytes{0x0A, 0xFF}));
    ASSERT_NE(parsed.find(8), nullptr);
    ASSERT_EQ(parsed.find(8)->before.size(), 2u);
    EXPECT_EQ(parsed.find(8)->before[0].payload, (pd::bytes{1, 2}));
    EXPECT_TRUE(parsed.find(8)->before[1].one_way);
    EXPECT_EQ(parsed.find(8)->reply.kind, pd::answer_kind::none);
    EXPECT_EQ(parsed.find(9), nullptr);
    ASSERT_EQ(parsed.keys.size(), 1u);
    EXPECT_EQ(parsed.keys[0].subkey, u"Software\\A B");
    ASSERT_EQ(parsed.services.size(), 1u);
    EXPECT_EQ(parsed.services[0].sid, "S-1-2");
    std::vector<unsigned> bad_lines;
    for (const pd::script_error& error : parsed.errors)
        bad_lines.push_back(error.line);
    EXPECT_EQ(bad_lines, (std::vector<unsigned>{9, 10, 11, 13, 15}));
}

TEST(ProtectionDoubleLog, FrameLinesReadBackAndMalformedOnesAreRefused)
{
    const unsigned char payload[] = {0x01, 0xAB};
    const std::string line = pd::frame_line(3, 0, 0x1000002, 7, payload, sizeof payload);
    EXPECT_EQ(line, "frame 3 kind=0 id=0x01000002 seq=7 payload=01ab");
    pd::logged_frame frame;
    ASSERT_TRUE(pd::parse_frame_line(line, frame));
    EXPECT_EQ(frame.connection, 3u);
    EXPECT_EQ(frame.id, 0x1000002u);
    EXPECT_EQ(frame.sequence, 7u);
    EXPECT_EQ(frame.payload, (pd::bytes{0x01, 0xAB}));
    for (const char* bad : {"frame 1 kind=0 id=0x1000002 seq=1 payload=", "frame 1 kind=0 id=0x01000002 seq=1 payload=0",
                            "frame x kind=0 id=0x01000002 seq=1 payload=", "frame 1 kind=0 id=0x01000002 payload=",
                            "frame 1 kind=0 id=0x01000002 seq=1 payload= extra", "connect 1"}) {
        EXPECT_FALSE(pd::parse_frame_line(bad, frame)) << bad;
    }
}

} // namespace
