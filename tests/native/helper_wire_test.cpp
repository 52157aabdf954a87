#include "helper/helper_wire.h"

#include "byte_helpers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace {

bytes concat(std::initializer_list<bytes> parts)
{
    bytes all;
    for (const bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

bytes text(const std::string& s)
{
    bytes b(s.begin(), s.end());
    b.push_back(0);
    return b;
}

bytes u32_bytes(std::uint32_t v)
{
    return {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v >> 16),
            static_cast<unsigned char>(v >> 24)};
}

const bytes hklm_bytes = {0x02, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0xFF};

struct encoder_case {
    const char* name;
    std::function<bool(mcl::binary_t&)> encode;
    bytes expected;
};

registry_protection single_key(std::uint8_t protect, std::uint32_t option)
{
    registry_protection key;
    key.protect = protect;
    key.root = hkey_local_machine;
    key.subkey = u"AB";
    key.option = option;
    return key;
}

file_operation remove_operation(const char* path)
{
    return file_operation{1, helper_wire::folder_of(path), {path}};
}

const std::vector<encoder_case>& encoder_cases()
{
    using namespace helper_wire;
    static const std::vector<encoder_case> cases = {
        {"protect_service abc",
         [](mcl::binary_t& p) { return encode(p, std::vector<service_protection>{{1, 1, "abc"}}); },
         {0x01, 0, 0, 0, 0x01, 0x01, 0x61, 0x62, 0x63, 0x00}},
        {"unprotect_service abc",
         [](mcl::binary_t& p) { return encode(p, std::vector<service_protection>{{0, 0, "abc"}}); },
         {0x01, 0, 0, 0, 0x00, 0x00, 0x61, 0x62, 0x63, 0x00}},
        {"empty batch", [](mcl::binary_t& p) { return encode(p, std::vector<process_protection>{}); }, {0, 0, 0, 0}},
        {"query log flag off", [](mcl::binary_t& p) { return encode_flag(p, 0); }, {0x00}},
        {"name then u32 append", [](mcl::binary_t& p) { return encode_name(p, "ab") && encode_u32(p, 0x01000009); },
         {'a', 'b', 0, 0x09, 0x00, 0x00, 0x01}},
        {"null name", [](mcl::binary_t& p) { return encode_name(p, nullptr); }, {0}},
        {"unprotect_registry_key HKLM AB",
         [](mcl::binary_t& p) { return encode(p, std::vector<registry_protection>{single_key(0, 0)}); },
         concat({{0x01, 0, 0, 0}, {0x00}, hklm_bytes, {0x41, 0x00, 0x42, 0x00, 0x00, 0x00}, {0x00}, {0, 0, 0, 0},
                 {0, 0, 0, 0}})},
        {"protect_registry_key HKLM AB",
         [](mcl::binary_t& p) { return encode(p, std::vector<registry_protection>{single_key(1, 1)}); },
         concat({{0x01, 0, 0, 0}, {0x01}, hklm_bytes, {0x41, 0x00, 0x42, 0x00, 0x00, 0x00}, {0x00}, {0, 0, 0, 0},
                 {1, 0, 0, 0}})},
        {"registry key with owner and full access list",
         [](mcl::binary_t& p) {
             return encode(p, registry_protection{1, hkey_current_user, u"k", "own", {"x", "y"}, 0x0A0B0C0D});
         },
         concat({{0x01, 0x01, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0xFF, 'k', 0, 0, 0}, text("own"), u32_bytes(2),
                 text("x"), text("y"), {0x0D, 0x0C, 0x0B, 0x0A}})},
        {"process path is UTF-16LE",
         [](mcl::binary_t& p) { return encode(p, std::vector<process_protection>{{1, u"\u00e9x"}}); },
         {0x01, 0, 0, 0, 0x01, 0xE9, 0x00, 'x', 0x00, 0x00, 0x00}},
        {"start_service S a b", [](mcl::binary_t& p) { return encode(p, service_start_params{"S", {"a", "b"}}); },
         {0x53, 0x00, 0x02, 0x00, 0x00, 0x00, 0x61, 0x00, 0x62, 0x00}},
        {"start_service S", [](mcl::binary_t& p) { return encode(p, service_start_params{"S", {}}); },
         {0x53, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {"remove_quarantined_file C:\\q\\a.txt",
         [](mcl::binary_t& p) { return encode(p, remove_operation("C:\\q\\a.txt")); },
         concat({u32_bytes(1), text("C:\\q\\"), u32_bytes(1), text("C:\\q\\a.txt")})},
        {"remove_quarantined_file a.txt", [](mcl::binary_t& p) { return encode(p, remove_operation("a.txt")); },
         concat({u32_bytes(1), {0x00}, u32_bytes(1), text("a.txt")})},
        {"quarantine container", [](mcl::binary_t& p) { return encode(p, quarantine_container{"c", {"p"}}); },
         {'c', 0, 1, 0, 0, 0, 'p', 0}},
        {"container operation", [](mcl::binary_t& p) { return encode(p, container_operation{2, "c"}); },
         {2, 0, 0, 0, 'c', 0}},
        {"lists request", [](mcl::binary_t& p) { return encode(p, lists_request{7, {"a"}, {}}); },
         {7, 0, 0, 0, 1, 0, 0, 0, 'a', 0, 0, 0, 0, 0}},
        {"entry params", [](mcl::binary_t& p) { return encode(p, entry_params{1, "n", "s", "", 1, 0, 0x01020304}); },
         {0x01, 'n', 0, 's', 0, 0, 0x01, 0x00, 0x04, 0x03, 0x02, 0x01}},
    };
    return cases;
}

TEST(HelperWireEncode, EveryEncoderWritesItsBytesInWireOrder)
{
    for (const encoder_case& c : encoder_cases()) {
        SCOPED_TRACE(c.name);
        mcl::binary_t payload;
        ASSERT_TRUE(c.encode(payload));
        EXPECT_EQ(bytes_of(payload), c.expected);
    }
}

TEST(HelperWireEncode, FolderOfKeepsThePathUpToItsLastBackslash)
{
    const struct {
        const char* path;
        const char* folder;
    } cases[] = {
        {"C:\\q\\a.txt", "C:\\q\\"}, {"a.txt", ""}, {"", ""}, {nullptr, ""}, {"C:\\q\\", "C:\\q\\"}, {"\\", "\\"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(helper_wire::folder_of(c.path), c.folder) << (c.path ? c.path : "(null)");
}

struct result_case {
    bytes reply;
    bool decoded;
    std::uint8_t ok;
    std::string message;
};

TEST(HelperWireDecode, ResultKeepsWhatWasReadEvenWhenTheReplyFails)
{
    const result_case cases[] = {
        {{}, false, 0, ""},
        {{0x01}, false, 1, ""},
        {{0x01, 0x00}, true, 1, ""},
        {{0x01, 'y', 'e', 's', 0x00}, true, 1, "yes"},
        {{0x00, 'n', 'o', 0x00, 'x'}, true, 0, "no"},
        {{0x01, 'y', 'e', 's'}, false, 1, ""},
    };
    for (const result_case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.reply));
        request_result result{7, "stale"};
        EXPECT_EQ(helper_wire::decode_result(payload_of(c.reply), result), c.decoded);
        EXPECT_EQ(result.ok, c.ok);
        EXPECT_EQ(result.message, c.message);
    }
}

TEST(HelperWireDecode, CompatibleAndBareNumberNeedTheirFullWidth)
{
    const bytes reply = {0x00, 0x04, 0x00, 0x00, 0x00, 0xEE};
    for (std::uint32_t length = 0; length <= reply.size(); ++length) {
        const mcl::binary_t prefix = payload_of(bytes(reply.begin(), reply.begin() + length));
        std::uint8_t compatible = 9;
        std::uint32_t version = 9;
        const bool compatible_read = helper_wire::decode_compatible(prefix, compatible, version);
        EXPECT_EQ(compatible_read, length >= 5) << length;
        EXPECT_EQ(compatible, compatible_read ? 0 : 9) << length;
        EXPECT_EQ(version, compatible_read ? 4u : 9u) << length;

        std::uint32_t value = 9;
        const bool number_read = helper_wire::decode_u32(prefix, value);
        EXPECT_EQ(number_read, length >= 4) << length;
        EXPECT_EQ(value, number_read ? 0x00000400u : 9u) << length;
    }
}

// Records as text, one field after the other, so that a table can say what a reply must decode to.
std::string narrow(const std::u16string& units)
{
    std::string out;
    for (char16_t unit : units) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(unit));
        out += unit < 0x80 ? std::string(1, static_cast<char>(unit)) : std::string(escaped);
    }
    return out;
}

std::string number(std::uint64_t value) { return std::to_string(value); }

std::string joined(const std::vector<std::string>& fields, const char* separator)
{
    std::string out;
    for (std::size_t i = 0; i < fields.size(); ++i)
        out += (i == 0 ? "" : separator) + fields[i];
    return out;
}

std::string describe(const protected_service& r)
{
    return joined({number(r.service_level), number(r.process_level), r.service_dacl, r.folder_dacl, r.service_name,
                   r.service_sid, narrow(r.binary_path), narrow(r.reference_folder)},
                  "|");
}

std::string describe(const protected_process& r)
{
    return joined({number(r.process_level), r.folder_dacl, narrow(r.image_path), narrow(r.reference_folder)}, "|");
}

std::string describe(const protected_registry_key& r)
{
    return joined({number(r.key_level), r.original_dacl, r.current_dacl, number(r.root), narrow(r.subkey),
                   r.owner_service, joined(r.full_access_services, ",")},
                  "|");
}

std::string describe(const protected_folder& r)
{
    return joined({number(r.folder_level), r.folder_dacl, narrow(r.folder_path)}, "|");
}

std::string describe(const quarantined_file& r) { return r.quarantine_name + "|" + r.original_path; }

std::string describe(const entry_record& r)
{
    return joined({number(r.first_number), number(r.second_number), r.first_text, number(r.flag_a),
                   number(r.flag_b), number(r.third_number), r.second_text, r.third_text, number(r.last_number)},
                  "|");
}

std::string describe(const std::string& r) { return r; }

// Decodes into a list that already holds a record, and describes what the list holds afterwards.
template <typename Record>
bool decode_described(const mcl::binary_t& reply, std::vector<std::string>& described)
{
    std::vector<Record> list(1);
    const bool ok = helper_wire::decode_list(reply, list);
    described.clear();
    for (const Record& record : list)
        described.push_back(describe(record));
    return ok;
}

struct list_case {
    const char* kind;
    bool (*decode)(const mcl::binary_t&, std::vector<std::string>&);
    bytes record;  // one record on the wire; the reply carries it twice
    std::string decoded;
};

const std::vector<list_case>& list_cases()
{
    static const std::vector<list_case> cases = {
        {"protected_service", decode_described<protected_service>,
         concat({{0x01, 0x02}, text("SD"), text("FD"), text("svc"), text(""), {'b', 0, 0xE9, 0, 0, 0}, {0, 0}}),
         "1|2|SD|FD|svc||b\\u00e9|"},
        {"protected_process", decode_described<protected_process>,
         concat({{0x03}, text("D"), {'p', 0, 0, 0}, {'r', 0, 0, 0}}), "3|D|p|r"},
        {"protected_registry_key", decode_described<protected_registry_key>,
         concat({{0x01}, text("O"), text("C"), hklm_bytes, {'k', 0, 0, 0}, text("o"), u32_bytes(2), text("a"),
                 text("b")}),
         "1|O|C|18446744071562067970|k|o|a,b"},
        {"protected_folder", decode_described<protected_folder>, concat({{0x04}, text("F"), {'x', 0, 0, 0}}),
         "4|F|x"},
        {"quarantined_file", decode_described<quarantined_file>, concat({text("q"), text("C:\\a")}), "q|C:\\a"},
        {"entry_record", decode_described<entry_record>,
         concat({{1, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 1}, text("a"), {0x01, 0x00},
                 {3, 0, 0, 0, 0, 0, 0, 0}, text("b"), text(""), u32_bytes(4)}),
         "1|72057594037927936|a|1|0|3|b||4"},
        {"narrow string", decode_described<std::string>, text("name"), "name"},
    };
    return cases;
}

void PrintTo(const list_case& c, std::ostream* os) { *os << c.kind; }

class HelperWireList : public ::testing::TestWithParam<list_case> {};

TEST_P(HelperWireList, GoodReplyDecodesEveryRecordInOrder)
{
    const list_case& c = GetParam();
    std::vector<std::string> described;
    ASSERT_TRUE(c.decode(payload_of(concat({u32_bytes(2), c.record, c.record, {0xAB}})), described));
    EXPECT_EQ(described, (std::vector<std::string>{c.decoded, c.decoded}));

    ASSERT_TRUE(c.decode(payload_of(concat({u32_bytes(0), c.record})), described));
    EXPECT_TRUE(described.empty());
}

TEST_P(HelperWireList, EveryCutReplyFailsAndKeepsTheRecordsBeforeTheCut)
{
    const list_case& c = GetParam();
    const bytes reply = concat({u32_bytes(2), c.record, c.record});
    for (std::size_t length = 0; length < reply.size(); ++length) {
        std::vector<std::string> described;
        EXPECT_FALSE(c.decode(payload_of(bytes(reply.begin(), reply.begin() + length)), described)) << length;
        const std::size_t complete = length < 4 ? 0 : (length - 4) / c.record.size();
        EXPECT_EQ(described, std::vector<std::string>(complete, c.decoded)) << length;
    }
}

TEST_P(HelperWireList, CountBeyondThePayloadFailsAfterTheRecordsItHolds)
{
    const list_case& c = GetParam();
    for (const std::uint32_t count : {3u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        std::vector<std::string> described;
        EXPECT_FALSE(c.decode(payload_of(concat({u32_bytes(count), c.record, c.record})), described)) << count;
        EXPECT_EQ(described, (std::vector<std::string>{c.decoded, c.decoded})) << count;
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, HelperWireList, ::testing::ValuesIn(list_cases()),
                         [](const ::testing::TestParamInfo<list_case>& info) {
                             std::string name = info.param.kind;
                             for (char& ch : name)
                                 ch = ch == ' ' ? '_' : ch;
                             return name;
                         });

// Every byte of a reply can be one empty name: the elements of one reply, nested lists included, stop at a
// fixed number however many bytes and whatever count it carries.
TEST(HelperWireLimit, NoReplyDecodesMoreElementsThanTheLimit)
{
    constexpr std::uint32_t limit = helper_wire::max_reply_elements;
    const struct {
        std::uint32_t count;
        std::size_t empty_names;
        bool decoded;
    } cases[] = {{limit, limit, true}, {limit + 1, limit + 1, false}, {0xFFFFFFFFu, 16u * 1024u * 1024u - 4, false}};
    for (const auto& c : cases) {
        bytes reply = u32_bytes(c.count);
        reply.resize(reply.size() + c.empty_names, 0);
        std::vector<std::string> names;
        EXPECT_EQ(c.decoded, helper_wire::decode_list(payload_of(reply), names)) << c.count;
        EXPECT_EQ(limit, names.size()) << c.count;
        EXPECT_LE(names.capacity(), limit) << c.count;
    }

    // A registry key counts, and so does each name of its full-access list.
    for (const std::uint32_t names : {limit - 1, limit}) {
        bytes reply = concat({u32_bytes(1), {0x01}, text(""), text(""), hklm_bytes, {0, 0}, text(""), u32_bytes(names)});
        reply.resize(reply.size() + names, 0);
        std::vector<protected_registry_key> keys;
        EXPECT_EQ(names < limit, helper_wire::decode_list(payload_of(reply), keys)) << names;
    }
}

struct utf8_case {
    const char* name;
    const char* input;
    bool converted;
    std::u16string units;
};

TEST(HelperWireUtf8, StrictConversionWithSurrogatePairs)
{
    const utf8_case cases[] = {
        {"empty", "", true, u""},
        {"null", nullptr, true, u""},
        {"ascii", "abc", true, u"abc"},
        {"e acute", "\xC3\xA9", true, u"\u00e9"},
        {"japanese", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", true, u"\u65e5\u672c\u8a9e"},
        {"emoji", "a\xF0\x9F\x98\x80", true, u"a\xD83D\xDE00"},
        {"highest", "\xF4\x8F\xBF\xBF", true, u"\xDBFF\xDFFF"},
        {"U+FFFF", "\xEF\xBF\xBF", true, u"\xFFFF"},
        {"overlong nul", "\xC0\x80", false, u""},
        {"overlong two bytes", "\xC1\xBF", false, u""},
        {"overlong three bytes", "\xE0\x9F\xBF", false, u""},
        {"overlong four bytes", "\xF0\x8F\xBF\xBF", false, u""},
        {"high surrogate", "\xED\xA0\x80", false, u""},
        {"low surrogate", "\xED\xBF\xBF", false, u""},
        {"above U+10FFFF", "\xF4\x90\x80\x80", false, u""},
        {"lead F5", "\xF5\x80\x80\x80", false, u""},
        {"lead FF", "\xFF", false, u""},
        {"lone continuation", "a\x80", false, u""},
        {"truncated two", "a\xC3", false, u""},
        {"truncated three", "\xE6\x97", false, u""},
        {"truncated four", "\xF0\x9F\x98", false, u""},
        {"bad continuation", "\xC3\x41", false, u""},
    };
    for (const utf8_case& c : cases) {
        SCOPED_TRACE(c.name);
        std::u16string units = u"stale";
        EXPECT_EQ(helper_wire::utf8_to_utf16(c.input, units), c.converted);
        EXPECT_EQ(units, c.units);
    }
}

} // namespace
