// Every operation of the helper once: the frame the service received and what the caller got back from a
// canned reply.
#include "helper_fixture.h"

#include "helper/helper_wire.h"

#include <gtest/gtest.h>
#include <psapi.h>

#include <algorithm>

#include <string>
#include <vector>

namespace {

using namespace helpertest;

// The helper's own peer name as a narrow string on the wire.
#define OWN_NAME "4f56436c69656e7448656c706572434c4900"

const char* const canned_replies =
    "on 0x1000002 result 1 svc\n"
    "on 0x1000003 result 1 proc\n"
    "on 0x100000B result 1 reg\n"
    "on 0x1000004 bytes 01000000" "0101" "4400" "00" "73766300" "5300" "70000000" "0000\n"
    "on 0x1000005 bytes 01000000" "01" "00" "78000000" "0000\n"
    "on 0x100000C bytes 01000000" "01" "00" "00" "02000080ffffffff" "6b000000" "00" "00000000\n"
    "on 0x100000D bytes 01000000" "01" "00" "66000000\n"
    "on 0x1000006 result 1 paused\n"
    "on 0x1000007 result 0 refused\n"
    "on 0x1000008 result 1 e\n"
    "on 0x1000096 bytes 01\n"
    "on 0x100000A bytes 2a000000\n"
    "on 0x1000065 result 1 started\n"
    "on 0x1000066 result 1 stopped\n"
    "on 0x1000067 result 1 recovered\n"
    "on 0x1000068 result 1 s68\n"
    "on 0x1000069 result 1 n69\n"
    "on 0x100006A result 1 rr\n"
    "on 0x10000C9 result 1 created\n"
    "on 0x10000CA result 1 fileop\n"
    "on 0x10000CB result 1 contop\n"
    "on 0x10000CC bytes 01000000" "7100" "6f00\n"
    "on 0x10000CD bytes 02000000" "6100" "6200\n"
    "on 0x10000CE result 1 yes\n"
    "on 0x10000CF bytes 01\n"
    "on 0x10000D0 result 1 d0\n"
    "on 0x10000D1 result 1 d1\n"
    "on 0x10000D2 result 1 Yes\n"
    "on 0x10000FA result 1 entry\n"
    "on 0x10000FB bytes 01000000" "0100000000000000" "0200000000000000" "7400" "01" "00" "0300000000000000" "00"
    "00" "04000000\n";

request_result unset() { return {9, "unset"}; }

std::string said(bool returned, const request_result& result)
{
    return std::to_string(returned) + " ok=" + std::to_string(result.ok) + " " + result.message;
}

std::string ascii(const std::u16string& units) { return std::string(units.begin(), units.end()); }

// The caller's list held one record before: list replies add to it.
template <typename Record, typename Key>
std::string listed(bool returned, const std::vector<Record>& list, Key key)
{
    return std::to_string(returned) + " n=" + std::to_string(list.size()) + " " + key(list.back());
}

using call = std::string (*)(ovchelper&, const std::string& service);

struct operation_case {
    int slot;
    call run;
    std::uint32_t kind;  // of the frame the service receives
    std::uint32_t id;    // 0: nothing is sent
    const char* request;
    const char* outcome;
};

// clang-format off
const operation_case operation_cases[] = {
    {0, [](ovchelper& h, const std::string& s) { return std::to_string(h.service_installed(s)); }, 0, 0, "", "1"},
    {1, [](ovchelper& h, const std::string& s) { return std::to_string(h.service_stopped(s)); }, 0, 0, "", "0"},
    // Slot 2, connect, made the connection these cases use.
    {3, [](ovchelper& h, const std::string&) { return std::to_string(h.send_test_message()); }, 4, 0x1000001, "", "1"},
    {4, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.protect_service("abc", &r), r); },
     0, 0x1000002, "01000000" "0101" "61626300", "1 ok=1 svc"},
    {5, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.protect_process("C:\\p", &r), r); },
     0, 0x1000003, "01000000" "01" "43003a005c0070000000", "1 ok=1 proc"},
    {6, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.protect_registry_key(hkey_local_machine, "AB", "owner", &r), r); },
     0, 0x100000B, "01000000" "01" "02000080ffffffff" "410042000000" "00" "00000000" "01000000", "1 ok=1 reg"},
    {7, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.unprotect_service("abc", &r), r); },
     0, 0x1000002, "01000000" "0000" "61626300", "1 ok=1 svc"},
    {8, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.unprotect_process("x", &r), r); },
     0, 0x1000003, "01000000" "00" "78000000", "1 ok=1 proc"},
    {9, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.unprotect_registry_key(hkey_local_machine, "AB", &r), r); },
     0, 0x100000B, "01000000" "00" "02000080ffffffff" "410042000000" "00" "00000000" "00000000", "1 ok=1 reg"},
    {10, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.protect_services({{1, 0, "a"}, {0, 1, "b"}}, &r), r); },
     0, 0x1000002, "02000000" "0100" "6100" "0001" "6200", "1 ok=1 svc"},
    {11, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.protect_processes({{1, u"y"}}, &r), r); },
     0, 0x1000003, "01000000" "01" "79000000", "1 ok=1 proc"},
    {12, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.protect_registry_keys({{1, hkey_current_user, u"K", "o", {"s"}, 7}}, &r), r); },
     0, 0x100000B, "01000000" "01" "01000080ffffffff" "4b000000" "6f00" "01000000" "7300" "07000000", "1 ok=1 reg"},
    {13, [](ovchelper& h, const std::string&) { std::vector<protected_service> l(1); return listed(h.query_protected_services(0, l), l, [](const protected_service& e) { return e.service_name; }); },
     0, 0x1000004, "00", "1 n=2 svc"},
    {14, [](ovchelper& h, const std::string&) { std::vector<protected_process> l(1); return listed(h.query_protected_processes(1, l), l, [](const protected_process& e) { return ascii(e.image_path); }); },
     0, 0x1000005, "01", "1 n=2 x"},
    {15, [](ovchelper& h, const std::string&) { std::vector<protected_registry_key> l(1); return listed(h.query_protected_registry_keys(0, l), l, [](const protected_registry_key& e) { return ascii(e.subkey); }); },
     0, 0x100000C, "00", "1 n=2 k"},
    {16, [](ovchelper& h, const std::string&) { std::vector<protected_folder> l(1); return listed(h.query_protected_folders(1, l), l, [](const protected_folder& e) { return ascii(e.folder_path); }); },
     0, 0x100000D, "01", "1 n=2 f"},
    {17, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.pause_protection(&r), r); },
     0, 0x1000006, "", "1 ok=1 paused"},
    // The service's refusal: false, and the caller learns why.
    {18, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.resume_protection(&r), r); },
     0, 0x1000007, "", "0 ok=0 refused"},
    {19, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.set_e_switch(1, &r), r); },
     0, 0x1000008, "01", "1 ok=1 e"},
    // A one-byte reply fails and leaves the caller's result alone.
    {20, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.set_d_switch(0, &r), r); },
     0, 0x1000096, "00", "0 ok=9 unset"},
    {21, [](ovchelper& h, const std::string&) { return std::to_string(h.wait_proto_compatible(0, 0)); }, 0, 0x1000009, "05000000", "1"},
    {22, [](ovchelper& h, const std::string&) { return std::to_string(h.proto_compatible()); }, 0, 0x1000009, "05000000", "1"},
    {23, [](ovchelper& h, const std::string&) { return std::to_string(h.query_value_0a()); }, 0, 0x100000A, "", "42"},
    {24, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.start_service({"S", {"a", "b"}}, &r), r); },
     0, 0x1000065, "5300" "02000000" "6100" "6200", "1 ok=1 started"},
    {25, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.stop_service("s", &r), r); },
     0, 0x1000066, "7300", "1 ok=1 stopped"},
    {26, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.recover_service_dacl("s", &r), r); },
     0, 0x1000067, "7300", "1 ok=1 recovered"},
    {27, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.name_request_69("n", &r), r); },
     0, 0x1000069, "6e00", "1 ok=1 n69"},
    {28, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.recover_registry_key_dacl(hkey_classes_root, "K", &r), r); },
     0, 0x100006A, "01000000" "00" "00000080ffffffff" "4b000000" "00" "00000000" "00000000", "1 ok=1 rr"},
    {29, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.switch_request_68(1, &r), r); },
     0, 0x1000068, "01", "1 ok=1 s68"},
    {30, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.create_quarantine_container({"c", {"f"}}, &r), r); },
     0, 0x10000C9, "6300" "01000000" "6600", "1 ok=1 created"},
    {31, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.quarantine_file("c", "C:\\q\\a.txt", &r), r); },
     0, 0x10000CA, "00000000" "6300" "01000000" "433a5c715c612e74787400", "1 ok=1 fileop"},
    {32, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.remove_quarantined_file("C:\\q\\a.txt", &r), r); },
     0, 0x10000CA, "01000000" "433a5c715c00" "01000000" "433a5c715c612e74787400", "1 ok=1 fileop"},
    {33, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.restore_quarantined_file("a.txt", &r), r); },
     0, 0x10000CA, "02000000" "00" "01000000" "612e74787400", "1 ok=1 fileop"},
    {34, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.run_file_operation({0, "d", {"p", "q"}}, &r), r); },
     0, 0x10000CA, "00000000" "6400" "02000000" "7000" "7100", "1 ok=1 fileop"},
    {35, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.run_container_operation({2, "c"}, &r), r); },
     0, 0x10000CB, "02000000" "6300", "1 ok=1 contop"},
    {36, [](ovchelper& h, const std::string&) { std::vector<quarantined_file> l(1); return listed(h.list_quarantined_files("c", l), l, [](const quarantined_file& e) { return e.quarantine_name; }); },
     0, 0x10000CC, "6300", "1 n=2 q"},
    // Refills the caller's list instead of adding to it.
    {37, [](ovchelper& h, const std::string&) { std::vector<std::string> l{"old"}; const bool ok = h.list_quarantine_containers(l); std::string t = std::to_string(ok); for (const std::string& n : l) t += " " + n; return t; },
     0, 0x10000CD, "", "1 a b"},
    {38, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.name_check_ce("n", &r), r); },
     0, 0x10000CE, "6e00", "1 ok=1 yes"},
    // Always hands back what was read, even from a reply that fails.
    {39, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.name_request_cf("n", &r), r); },
     0, 0x10000CF, "6e00", "0 ok=1 "},
    {40, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.name_request_d0("n", &r), r); },
     0, 0x10000D0, "6e00", "1 ok=1 d0"},
    {41, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.lists_request_d1({3, {"a"}, {}}, &r), r); },
     0, 0x10000D1, "03000000" "01000000" "6100" "00000000", "1 ok=1 d1"},
    // Only the exact answer "yes" counts.
    {42, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.name_check_d2("n", &r), r); },
     0, 0x10000D2, "6e00", "0 ok=1 Yes"},
    {43, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.entry_request_own("b", "c", 1, 0, 9, &r), r); },
     0, 0x10000FA, "00" OWN_NAME "6200" "6300" "01" "00" "09000000", "1 ok=1 entry"},
    {44, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.entry_request("a", "b", "c", 1, 0, 9, &r), r); },
     0, 0x10000FA, "00" "6100" "6200" "6300" "01" "00" "09000000", "1 ok=1 entry"},
    {45, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.entry_request_alt_own("b", "c", 0, 1, 2, &r), r); },
     0, 0x10000FA, "01" OWN_NAME "6200" "6300" "00" "01" "02000000", "1 ok=1 entry"},
    {46, [](ovchelper& h, const std::string&) { request_result r = unset(); return said(h.entry_request_alt("a", "b", "c", 0, 1, 2, &r), r); },
     0, 0x10000FA, "01" "6100" "6200" "6300" "00" "01" "02000000", "1 ok=1 entry"},
    {47, [](ovchelper& h, const std::string&) { std::vector<entry_record> l(1); return listed(h.entry_list_own(l), l, [](const entry_record& e) { return e.first_text; }); },
     0, 0x10000FB, OWN_NAME, "1 n=2 t"},
    {48, [](ovchelper& h, const std::string&) { std::vector<entry_record> l(1); return listed(h.entry_list("e", l), l, [](const entry_record& e) { return e.first_text; }); },
     0, 0x10000FB, "6500", "1 n=2 t"},
};
// clang-format on

class HelperRequests : public connected_helper {
protected:
    HelperRequests() : connected_helper(canned_replies) {}
};

TEST_F(HelperRequests, EachOperationSendsItsRequestAndReadsItsReply)
{
    for (const operation_case& row : operation_cases) {
        SCOPED_TRACE("slot " + std::to_string(row.slot));
        const std::size_t before = service.frames().size();
        EXPECT_EQ(row.run(*helper, service.name()), row.outcome);
        const std::size_t sent = row.id != 0 ? 1 : 0;
        // A one-way message is written after the call returns.
        ASSERT_TRUE(eventually([&] { return service.frames().size() >= before + sent; }, 2000));
        const std::vector<std::string> frames = service.frames();
        ASSERT_EQ(frames.size(), before + sent);
        if (sent != 0) {
            EXPECT_EQ(frames.back(), frame_text(row.kind, row.id, row.request));
        }
    }
}

} // namespace

namespace {

struct malformed_case {
    const char* script;
    call run;
    const char* outcome;
};

// clang-format off
const malformed_case malformed_cases[] = {
    // The count promises two records and one follows: the caller's list keeps only what it held.
    {"on 0x1000004 bytes 02000000" "0101" "4400" "00" "73766300" "5300" "70000000" "0000\n",
     [](ovchelper& h, const std::string&) { std::vector<protected_service> l(2); const bool ok = h.query_protected_services(0, l); return std::to_string(ok) + " n=" + std::to_string(l.size()); },
     "0 n=2"},
    // Refilled straight from the reply: the names read before the failure stay.
    {"on 0x10000CD bytes 02000000" "6100\n",
     [](ovchelper& h, const std::string&) { std::vector<std::string> l{"old"}; const bool ok = h.list_quarantine_containers(l); std::string t = std::to_string(ok); for (const std::string& n : l) t += " " + n; return t; },
     "0 a"},
    {"on 0x100000A bytes 2a0000\n", [](ovchelper& h, const std::string&) { return std::to_string(h.query_value_0a()); }, "0"},
};
// clang-format on

TEST(HelperRequestsMalformed, ShortRepliesFailAndLeaveTheCallerAlone)
{
    service_double service("");
    ASSERT_TRUE(service.installed());
    ASSERT_TRUE(service.start());
    for (const malformed_case& row : malformed_cases) {
        SCOPED_TRACE(row.script);
        service.rewrite_script(row.script);
        helper_ptr helper = make_helper();
        ASSERT_TRUE(helper->connect(2000, service.name()));
        ASSERT_TRUE(helper->proto_compatible());
        EXPECT_EQ(row.run(*helper, service.name()), row.outcome);
    }
}

std::size_t peak_memory()
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters) ? counters.PeakWorkingSetSize : 0;
}

// The double's script with a 16 MiB container-list reply: count 0xFFFFFFFF, then zero bytes. Written in pieces,
// so that this process's own peak stays where the measurement can see past it.
bool write_huge_list_script(const std::string& path)
{
    const mcl::mswin::unique_handle file(
        ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    const auto put = [&](const std::string& text) {
        DWORD written = 0;
        return ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
               written == text.size();
    };
    constexpr std::size_t zero_bytes = 16u * 1024u * 1024u - 4;
    constexpr std::size_t piece = 64u * 1024u;
    bool ok = file && put("on 0x10000CD bytes ffffffff");
    for (std::size_t done = 0; ok && done < zero_bytes; done += piece)
        ok = put(std::string(2 * std::min(piece, zero_bytes - done), '0'));
    return ok && put("\n");
}

// One well-formed reply of the largest size, every byte of it an empty container name.
TEST(HelperRequestsHostile, SixteenMebibyteListReplyStaysFarBelowItsNamesInMemory)
{
    service_double service("");
    ASSERT_TRUE(service.installed());
    ASSERT_TRUE(write_huge_list_script(service.script_path()));
    ASSERT_TRUE(service.start());
    helper_ptr helper = make_helper();
    ASSERT_TRUE(helper->connect(2000, service.name()));
    ASSERT_TRUE(helper->proto_compatible());

    const std::size_t before = peak_memory();
    std::vector<std::string> names;
    EXPECT_FALSE(helper->list_quarantine_containers(names));
    const std::size_t after = peak_memory();
    EXPECT_EQ(names.size(), helper_wire::max_reply_elements);
    EXPECT_LT(after, 64u * 1024u * 1024u) << "before: " << before;
}

} // namespace
