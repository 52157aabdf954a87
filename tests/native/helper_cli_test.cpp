#include "helper_cli/connection_monitor.h"
#include "helper_cli/console_output.h"
#include "helper_cli/helper_command.h"
#include "helper_cli/self_tests.h"
#include "tests/native/recording_helper.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

// The self-tests run only on Windows; here the interpreter's hand-over is recorded on the helper.
void run_self_tests(iovchelper* helper)
{
    static_cast<recording_helper*>(helper)->calls.push_back("run_self_tests");
}

namespace {

const std::string usage_text = "client helper CLI for Windows - Version 1.1\n"
                               "Copyright (C) 2026 Orvane. All rights reserved.\n"
                               "\n"
                               "Usage:\n"
                               "This is tool only useful to uninstall Ferrolink\n"
                               "\n";

// Standard output's narrow stream, redirected into a string for the life of the object.
class captured_stdout {
public:
    captured_stdout() : previous_(std::cout.rdbuf(buffer_.rdbuf())) {}
    ~captured_stdout() { std::cout.rdbuf(previous_); }
    std::string text() const { return buffer_.str(); }

private:
    std::ostringstream buffer_;
    std::streambuf* previous_;
};

struct run_outcome {
    std::int32_t code;
    std::string output;
};

// Runs `words` (behind the program name) with the given word count on `helper`.
run_outcome run(iovchelper* helper, const std::vector<const char*>& words, std::int32_t count = 3)
{
    std::vector<const char*> argv{"OVClientHelperCLI.exe"};
    argv.insert(argv.end(), words.begin(), words.end());
    argv.push_back(nullptr);
    captured_stdout out;
    const std::int32_t code = run_helper_command(helper, count, argv.data());
    EXPECT_TRUE(std::cout.good());
    return {code, out.text()};
}

class HelperCommand : public ::testing::Test {
protected:
    void SetUp() override { init_registry_root_tables(); }
};

const scripted_answer refused{false, 0, "denied"};
const scripted_answer refused_silently{false, 0, ""};
const scripted_answer timed_out{false, 0, "", false};
const scripted_answer done{true, 1, "done"};
const scripted_answer ok_without_flag{true, 0, "flag clear"};

struct grammar_case {
    std::vector<const char*> words;
    std::vector<scripted_answer> answers;  // per call, in order; every further call succeeds
    std::vector<std::string> calls;
    std::int32_t code;
    std::string output;
};

const grammar_case grammar_cases[] = {
    // Dispatch: option words, whole and case-insensitive.
    {{}, {}, {}, -2, usage_text},
    {{"-x"}, {}, {}, -2, usage_text},
    {{"-pp", "service", "s"}, {}, {}, -2, usage_text},
    {{"p", "service", "s"}, {}, {}, -2, usage_text},
    {{""}, {}, {}, -2, usage_text},
    {{"-h"}, {}, {}, -1, usage_text},
    {{"-H", "anything"}, {}, {}, -1, usage_text},
    // Self-tests.
    {{"-ut", "service"}, {}, {"run_self_tests"}, -1, ""},
    {{"-UT", "Process"}, {}, {}, -1, ""},
    {{"-ut", "folder"}, {}, {}, -1, ""},
    {{"-ut"}, {}, {}, -2, usage_text},
    {{"-ut", "reg"}, {}, {}, -2, usage_text},
    // Protect.
    {{"-p", "service", "svc"}, {}, {"protect_service(svc,result)"}, -1, ""},
    {{"-P", "SERVICE", "svc", "ignored"}, {refused}, {"protect_service(svc,result)"}, -1,
     "Failed to protect : svc\ndenied\n"},
    {{"-p", "process", "C:\\a.exe"}, {refused_silently}, {"protect_process(C:\\a.exe,result)"}, -1,
     "Failed to protect : C:\\a.exe\n\n"},
    {{"-p", "process", "p"}, {ok_without_flag}, {"protect_process(p,result)"}, -1,
     "Failed to protect : p\nflag clear\n"},
    {{"-p", "reg", "HKLM\\SOFTWARE\\A", "owner"}, {},
     {"protect_registry_key(0xFFFFFFFF80000002,SOFTWARE\\A,owner,result)"}, -1, ""},
    {{"-p", "Reg", "HKCU\\X\\Y", "o"}, {refused}, {"protect_registry_key(0xFFFFFFFF80000001,X\\Y,o,result)"}, -1,
     "Failed to protect : X\\Y\ndenied\n"},
    {{"-p", "reg", "HKLM", "o"}, {}, {}, -2, usage_text},
    {{"-p", "reg", "hklm\\A", "o"}, {}, {}, -2, usage_text},
    {{"-p", "reg", "HKLM \\A", "o"}, {}, {}, -2, usage_text},
    {{"-p", "reg", "HKXX\\A", "o"}, {}, {}, -2, usage_text},
    {{"-p", "reg", "HKLM\\A"}, {}, {}, -2, usage_text},
    {{"-p", "service"}, {}, {}, -2, usage_text},
    {{"-p", "services", "s"}, {}, {}, -2, usage_text},
    {{"-p"}, {}, {}, -2, usage_text},
    // Unprotect: the service and registry forms stay silent whatever the answer.
    {{"-u", "service", "svc"}, {refused}, {"unprotect_service(svc,result)"}, -1, ""},
    {{"-u", "process", "p"}, {refused}, {"unprotect_process(p,result)"}, -1, "Failed to unprotect: p\ndenied\n"},
    {{"-u", "reg", "HKLM\\SOFTWARE\\OrVANE\\SSL-VPN Ferrolink\\Standalone"}, {refused},
     {"unprotect_registry_key(0xFFFFFFFF80000002,SOFTWARE\\OrVANE\\SSL-VPN Ferrolink\\Standalone,result)"}, -1, ""},
    {{"-u", "reg", "HKU\\"}, {}, {"unprotect_registry_key(0xFFFFFFFF80000003,,result)"}, -1, ""},
    {{"-u", "reg"}, {}, {}, -2, usage_text},
    {{"-u", "process"}, {}, {}, -2, usage_text},
    // Queries (empty lists print only their count lines).
    {{"-q", "service"}, {}, {"query_protected_services(0)"}, -1, "0 services are protected.\n"},
    {{"-q", "-LOG", "Process"}, {}, {"query_protected_processes(1)"}, -1, "0 processes are protected.\n"},
    {{"-q", "-log", "reg"}, {}, {"query_protected_registry_keys(1)"}, -1, "0 registry keys are protected.\n"},
    {{"-q", "reg"}, {}, {"query_protected_registry_keys(0)"}, -1, "0 registry keys are protected.\n"},
    {{"-q", "folder"}, {refused}, {"query_protected_folders(0)"}, -1, "Command failed.\n"},
    {{"-q", "-log"}, {}, {}, -2, usage_text},
    {{"-q", "-log", "-log", "reg"}, {}, {}, -2, usage_text},
    {{"-q"}, {}, {}, -2, usage_text},
    // Pause, resume and the two switches.
    {{"-c", "pause"}, {}, {"pause_protection(null)"}, -1, ""},
    {{"-c", "RESUME"}, {refused}, {"resume_protection(null)"}, -1, "Command failed.\n"},
    {{"-c", "stop"}, {}, {}, -2, usage_text},
    {{"-d", "enable"}, {}, {"set_d_switch(1,null)"}, -1, ""},
    {{"-d", "Disable"}, {}, {"set_d_switch(0,null)"}, -1, ""},
    {{"-e", "enable"}, {refused}, {"set_e_switch(1,null)"}, -1, "Command failed.\n"},
    {{"-e", "disable"}, {}, {"set_e_switch(0,null)"}, -1, ""},
    {{"-e", "on"}, {}, {}, -2, usage_text},
    // Services through the protection service.
    {{"-s", "start", "S", "a", "b"}, {}, {"start_service(S,[a|b],result)"}, -1, ""},
    {{"-s", "start", "S"}, {refused}, {"start_service(S,[],result)"}, -1, "Failed to start service: S\ndenied\n"},
    {{"-s", "stop", "S", "ignored"}, {refused}, {"stop_service(S,result)"}, -1, "Failed to stop service: S\ndenied\n"},
    {{"-s", "start"}, {}, {}, -2, usage_text},
    {{"-s", "stop"}, {}, {}, -2, usage_text},
    {{"-s", "pause", "S"}, {}, {}, -2, usage_text},
    // DACL recovery.
    {{"-r", "service", "S"}, {refused}, {"recover_service_dacl(S,result)"}, -1,
     "Failed to recover DACL of service: S\ndenied\n"},
    {{"-r", "reg", "HKCC\\K"}, {refused}, {"recover_registry_key_dacl(0xFFFFFFFF80000005,K,result)"}, -1,
     "Failed to recover DACL of register key: K\ndenied\n"},
    {{"-r", "reg", "HKCR\\K"}, {}, {"recover_registry_key_dacl(0xFFFFFFFF80000000,K,result)"}, -1, ""},
    {{"-r", "reg", "K"}, {}, {}, -2, usage_text},
    // Quarantine: one result record for both calls, the message of the call that failed.
    {{"-f", "quarantine", "C", "F"}, {}, {"create_quarantine_container(C,[],result)", "quarantine_file(C,F,result)"},
     -1, ""},
    {{"-f", "quarantine", "C", "F"}, {refused}, {"create_quarantine_container(C,[],result)"}, -1,
     "Command failed.\ndenied\n"},
    {{"-f", "quarantine", "C", "F"}, {done, refused},
     {"create_quarantine_container(C,[],result)", "quarantine_file(C,F,result)"}, -1, "Command failed.\ndenied\n"},
    {{"-f", "quarantine", "C", "F"}, {done, timed_out},
     {"create_quarantine_container(C,[],result)", "quarantine_file(C,F,result)"}, -1, "Command failed.\n\n"},
    {{"-f", "quarantine", "C"}, {}, {}, -2, usage_text},
    {{"-f", "restore", "container", "C"}, {refused}, {"run_container_operation(2,C,result)"}, -1,
     "Command failed.\ndenied\n"},
    {{"-f", "restore", "F"}, {}, {"restore_quarantined_file(F,result)"}, -1, ""},
    {{"-f", "remove", "Container", "C"}, {}, {"run_container_operation(1,C,result)"}, -1, ""},
    {{"-f", "remove", "F"}, {refused}, {"remove_quarantined_file(F,result)"}, -1, "Command failed.\ndenied\n"},
    {{"-f", "restore"}, {}, {}, -2, usage_text},
    {{"-f", "remove", "container"}, {}, {}, -2, usage_text},
    {{"-f", "list", "containers"}, {}, {"list_quarantine_containers()"}, -1, " \n0 quarantine containers.\n"},
    {{"-f", "list", "containers"}, {refused}, {"list_quarantine_containers()"}, -1, "Command failed.\n"},
    {{"-f", "list", "Box"}, {}, {"list_quarantined_files(Box)"}, -1, " \n0 files are quarantined in Box.\n"},
    {{"-f", "list"}, {}, {}, -2, usage_text},
    {{"-f", "purge", "x"}, {}, {}, -1, ""},
    {{"-f"}, {}, {}, -2, usage_text},
    // Test message: sent, its answer not read.
    {{"-t"}, {refused}, {"send_test_message()"}, -1, ""},
};

std::string describe(const grammar_case& c)
{
    std::string words;
    for (const char* word : c.words)
        words += std::string(" '") + word + "'";
    return "words:" + words;
}

TEST_F(HelperCommand, GrammarTable)
{
    // The word count beside the vector must not matter.
    for (const std::int32_t count : {3, 0, -1}) {
        for (const grammar_case& c : grammar_cases) {
            SCOPED_TRACE(describe(c) + " count " + std::to_string(count));
            recording_helper helper;
            helper.answers.assign(c.answers.begin(), c.answers.end());
            const run_outcome outcome = run(&helper, c.words, count);
            EXPECT_EQ(outcome.code, c.code);
            EXPECT_EQ(helper.calls, c.calls);
            EXPECT_EQ(outcome.output, c.output);
        }
    }
}

TEST_F(HelperCommand, NullHelperStillChecksTheLineAndReportsFailure)
{
    const struct {
        std::vector<const char*> words;
        std::int32_t code;
        std::string output;
    } cases[] = {
        {{"-p", "reg", "HKLM", "o"}, -2, usage_text},
        {{"-p", "service", "s"}, -1, "Failed to protect : s\n\n"},
        {{"-u", "service", "s"}, -1, ""},
        {{"-q", "service"}, -1, "Command failed.\n"},
        {{"-c", "pause"}, -1, "Command failed.\n"},
        {{"-f", "quarantine", "C", "F"}, -1, "Command failed.\n\n"},
        {{"-ut", "service"}, -1, "Command failed.\n"},
        {{"-t"}, -1, ""},
        {{"-h"}, -1, usage_text},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.words.front());
        const run_outcome outcome = run(nullptr, c.words);
        EXPECT_EQ(outcome.code, c.code);
        EXPECT_EQ(outcome.output, c.output);
    }
}

TEST_F(HelperCommand, NullWordVectorGivesTheUsage)
{
    recording_helper helper;
    captured_stdout out;
    EXPECT_EQ(run_helper_command(&helper, 3, nullptr), -2);
    EXPECT_EQ(out.text(), usage_text);
    EXPECT_TRUE(helper.calls.empty());
}

TEST_F(HelperCommand, AnEarlierFailedWriteDoesNotSilenceTheOutput)
{
    captured_stdout out;
    std::cout.setstate(std::ios::failbit);
    print_usage();
    EXPECT_EQ(out.text(), usage_text);
}

TEST_F(HelperCommand, RootTablesHoldTheFiveRootsOnceAndEmptyTablesKnowNoRoot)
{
    init_registry_root_tables();
    const std::map<std::string, std::uint64_t> names{{"HKCR", 0xFFFFFFFF80000000ull}, {"HKCU", 0xFFFFFFFF80000001ull},
                                                     {"HKLM", 0xFFFFFFFF80000002ull}, {"HKU", 0xFFFFFFFF80000003ull},
                                                     {"HKCC", 0xFFFFFFFF80000005ull}};
    EXPECT_EQ(registry_root_names, names);
    ASSERT_EQ(registry_root_labels.size(), names.size());
    for (const auto& [name, root] : names)
        EXPECT_EQ(registry_root_labels.at(root), std::u16string(name.begin(), name.end()));

    registry_root_names.clear();
    registry_root_labels.clear();
    recording_helper helper;
    const run_outcome outcome = run(&helper, {"-u", "reg", "HKLM\\A"});
    EXPECT_EQ(outcome.code, -2);
    EXPECT_TRUE(helper.calls.empty());
}

TEST_F(HelperCommand, MonitorShowsEachCheckWithoutLineBreaksAndPausesOneSecond)
{
    recording_helper helper;
    helper.answers = {{true, 1, "", true}, {false, 1, "", true}, {true, 1, "", true}};
    std::vector<std::chrono::milliseconds> pauses;
    captured_stdout out;
    helper_cli::monitor_connection(&helper, [&](std::chrono::milliseconds pause) {
        pauses.push_back(pause);
        return pauses.size() < 3;
    });
    EXPECT_EQ(out.text(), ".!.");
    EXPECT_EQ(helper.calls, std::vector<std::string>(3, "proto_compatible()"));
    EXPECT_EQ(pauses, std::vector<std::chrono::milliseconds>(3, std::chrono::milliseconds(1000)));
}

TEST(ConsoleOutput, Utf16ToUtf8)
{
    const struct {
        std::u16string in;
        std::string out;
    } cases[] = {
        {u"", ""},
        {u"C:\\a", "C:\\a"},
        {u"Caf\u00e9", "Caf\xC3\xA9"},
        {u"\u65e5\u672c", "\xE6\x97\xA5\xE6\x9C\xAC"},
        {u"\U0001F600", "\xF0\x9F\x98\x80"},
        {std::u16string{0xD800, u'a'}, "\xEF\xBF\xBD" "a"},
        {std::u16string{u'a', 0xDC00}, "a\xEF\xBF\xBD"},
        {std::u16string{0xDBFF}, "\xEF\xBF\xBD"},
        {std::u16string{0xDC00, 0xD800}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(helper_cli::utf16_to_utf8(c.in), c.out) << c.out;
}

// Printer cases go through the query commands, so the wiring from list to report is covered as well.
struct report_case {
    const char* name;
    std::vector<const char*> words;
    std::function<void(recording_helper&)> fill;
    std::string output;
};

protected_service service_record(std::uint8_t service_level, std::uint8_t process_level)
{
    return {service_level, process_level, "D:(A;;GA;;;SY)", "D:(A;;FA;;;BA)", "ovtpsvc", "S-1-5-80-1",
            u"C:\\Program Files\\Orvane\\ovtpsvc.exe", u"C:\\Program Files\\Orvane"};
}

const report_case report_cases[] = {
    {"services",
     {"-q", "service"},
     [](recording_helper& h) { h.services = {service_record(2, 0), service_record(0, 1)}; },
     [] {
         std::string one = "ovtpsvc\n=============================\n"
                           "Binary path: C:\\Program Files\\Orvane\\ovtpsvc.exe\n";
         const std::string rest = "Service SID: S-1-5-80-1\n"
                                  "Current service DACL permissions: D:(A;;GA;;;SY)\n"
                                  "Reference folder: C:\\Program Files\\Orvane\n"
                                  "Current folder DACL permissions: D:(A;;FA;;;BA)\n \n";
         return one + "Service level protection: Yes\nProcess level protection: No\n" + rest + one +
                "Service level protection: No\nProcess level protection: Yes\n" + rest +
                "2 services are protected.\n";
     }()},
    {"processes",
     {"-q", "process"},
     [](recording_helper& h) { h.processes = {{1, "D:P", u"C:\\o\\ov.exe", u"C:\\o"}}; },
     "C:\\o\\ov.exe\n=============================\nProcess level protection: Yes\nReference folder: C:\\o\n"
     "Current folder DACL permissions: D:P\n \n1 processes are protected.\n"},
    {"registry keys with and without full access services, known and unknown root",
     {"-q", "reg"},
     [](recording_helper& h) {
         h.registry_keys = {{1, "O:BA", "O:SY", hkey_local_machine, u"SOFTWARE\\A", "ovtpsvc", {"s1", "s2", "s3"}},
                            {0, "", "", 42, u"X", "", {}}};
     },
     "HKLM\\SOFTWARE\\A\n=============================\nRegistry protection: Yes\nOwner service: ovtpsvc\n"
     "Full access service: s1\nFull access service: s2\nFull access service: s3\n"
     "Original DACL permissions: O:BA\nCurrent DACL permissions: O:SY\n \n"
     "42\\X\n=============================\nRegistry protection: No\nOwner service: \n"
     "Original DACL permissions: \nCurrent DACL permissions: \n \n2 registry keys are protected.\n"},
    {"folders",
     {"-q", "-log", "folder"},
     [](recording_helper& h) { h.folders = {{1, "D:F", u"C:\\Data"}}; },
     "C:\\Data\n=============================\nFolder protection: Yes\nCurrent folder DACL permissions: D:F\n \n"
     "1 folder are protected.\n"},
    {"containers",
     {"-f", "list", "containers"},
     [](recording_helper& h) { h.containers = {"Alpha", "beta"}; },
     " \nAlpha\n \nbeta\n \n2 quarantine containers.\n"},
    {"quarantined files name the container as typed",
     {"-f", "list", "MyBox"},
     [](recording_helper& h) { h.files = {{"q1.bin", "C:\\a.txt"}}; },
     " \nq1.bin\n=============================\nOriginal path: C:\\a.txt\n \n1 files are quarantined in MyBox.\n"},
    {"text outside ASCII in a path does not silence what follows",
     {"-q", "folder"},
     [](recording_helper& h) {
         h.folders = {{1, "D:1", u"C:\\Caf\u00e9\\\u65e5\u672c\u8a9e"}, {0, "D:2", u"C:\\next"}};
     },
     "C:\\Caf\xC3\xA9\\\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\n=============================\nFolder protection: Yes\n"
     "Current folder DACL permissions: D:1\n \nC:\\next\n=============================\nFolder protection: No\n"
     "Current folder DACL permissions: D:2\n \n2 folder are protected.\n"},
    {"line breaks and escapes from the service cannot forge lines",
     {"-f", "list", "containers"},
     [](recording_helper& h) { h.containers = {"a\nb\x1b[2J\tc"}; },
     " \na\xEF\xBF\xBD" "b\xEF\xBF\xBD[2J\tc\n \n1 quarantine containers.\n"},
};

TEST_F(HelperCommand, ReportTable)
{
    for (const report_case& c : report_cases) {
        SCOPED_TRACE(c.name);
        recording_helper helper;
        c.fill(helper);
        const run_outcome outcome = run(&helper, c.words);
        EXPECT_EQ(outcome.code, -1);
        EXPECT_EQ(outcome.output, c.output);
    }
}

// C1 controls reach a terminal as UTF-8 (C2 9B is the 8-bit CSI) or, in a code-page text, as single bytes;
// everything printable around them, in UTF-8 or not, is left alone.
TEST(ConsoleFilter, ControlsOfBothRangesBecomeReplacementCharacters)
{
    const std::string r = "\xEF\xBF\xBD";
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"\xC2\x9B" "31mred", r + "31mred"},
        {"\x9B" "2J", r + "2J"},
        {"next\xC2\x85line", "next" + r + "line"},
        {"\x80\x9F", r + r},
        {"a\tb\x1B[0m\x7F\r\n", "a\tb" + r + "[0m" + r + r + r},
        {"\xC2\xA0" "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "\xC2\xA0" "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"\xE9t\xE9", "\xE9t\xE9"},
        {"\xE2\x82", "\xE2" + r},
        {"\xC0\x9B", "\xC0" + r},
        {helper_cli::utf16_to_utf8(u"\u009B1m"), r + "1m"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.out, helper_cli::printable(c.in)) << c.in;
}

} // namespace
