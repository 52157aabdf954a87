#include "cleaner/steps/protection.h"

#include "footprint/footprint.h"
#include "helper/unique_helper.h"
#include "helper_cli/console_output.h"
#include "helper_cli/helper_command.h"
#include "helper_cli/self_tests.h"

#include <cstdarg>

namespace cleaner {

namespace {

// A target's outcome: released only when the service answered its unprotect request with success.
const std::int32_t kNotReleased = -2;
const std::int32_t kReleased = -1;
const std::int32_t kConnectTimeoutMs = 2000;
const std::int32_t kWordCount = 3;

const char* const kFirstServiceName = ferrolink::protection_service_names[0];
const char* const kSecondServiceName = ferrolink::protection_service_names[1];

struct target {
    const char* const* words;
    const char* label;
    const char* progress;
    const char* unprotected;
    const char* already_done;
};

const char* const kServiceWords[] = {"OVClientHelperCLI.exe", "-u", "service", "ORVANE_Ferrolink", nullptr};
const char* const kRegistryWords[] = {"OVClientHelperCLI.exe", "-u", "reg",
                                      "HKLM\\SOFTWARE\\OrVANE\\SSL-VPN Ferrolink\\Standalone", nullptr};

const target kTargets[] = {
    {kServiceWords, "Ferrolink service", "\tTrying to stop protection of Ferrolink service:",
     "\tFerrolink service unprotected.", "\tFerrolink service have already unprotected."},
    {kRegistryWords, "Ferrolink reg", "\tTrying to stop protection of Ferrolink reg:", "\tFerrolink reg unprotected.",
     "\tFerrolink reg have already unprotected."},
};

void line(FILE* log, const char* format, ...)
{
    if (log == nullptr)
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(log, format, args);
    va_end(args);
    std::fputc('\n', log);
    std::fflush(log);
}

// The unprotect command on a connected, compatible helper; the helper is released before returning. A refusal
// or a request that got no answer leaves the target protected, and the log says which.
std::int32_t unprotect(FILE* log, unique_helper<> helper, const target& what)
{
    command_answer answer;
    const bool carried_out = run_helper_command(helper.get(), kWordCount, what.words, &answer) == -1;
    if (!carried_out || !answer.answered) {
        line(log, "\t%s still protected, the protection service did not answer", what.label);
        return kNotReleased;
    }
    if (answer.result.ok == 0) {
        // The message is the service's: it must not write lines of its own into the log.
        line(log, "\t%s still protected, the protection service refused: %s", what.label,
             helper_cli::printable(answer.result.message).c_str());
        return kNotReleased;
    }
    line(log, "%s", what.unprotected);
    return kReleased;
}

// Pass 1 under the first name: a stopped service is announced, and every failure is logged.
void first_pass_target(FILE* log, const target& what, std::int32_t& outcome)
{
    line(log, "%s1", what.progress);
    unique_helper<> helper(create_helper());
    if (!helper)
        return;
    if (helper.get()->service_stopped(kFirstServiceName))
        line(log, "Client protection service is stopped, trying to re-start the service...");
    if (!helper.get()->connect(kConnectTimeoutMs, kFirstServiceName)) {
        line(log, "Unable to connect client protection service, please make sure it has been started.");
        return;
    }
    if (!helper.get()->proto_compatible()) {
        line(log, "Service and client use incompatible IPC protocols.");
        helper.reset();
        line(log, "\tDon't worry! We'll try again.");
        return;
    }
    outcome = unprotect(log, std::move(helper), what);
}

// Pass 2 under the second name: a service that cannot be reached is quiet, unless pass 1 already did the job.
void second_pass_target(FILE* log, const target& what, std::int32_t& outcome)
{
    line(log, "%s2", what.progress);
    unique_helper<> helper(create_helper());
    if (!helper)
        return;
    if (!helper.get()->connect(kConnectTimeoutMs, kSecondServiceName)) {
        helper.reset();
        if (outcome == kReleased)
            line(log, "%s", what.already_done);
        return;
    }
    if (!helper.get()->proto_compatible()) {
        line(log, "Service and client use incompatible IPC protocols.");
        return;
    }
    outcome = unprotect(log, std::move(helper), what);
}

} // namespace

std::int32_t release_client_protection(FILE* log)
{
    init_registry_root_tables();
    std::int32_t outcomes[] = {kNotReleased, kNotReleased};
    for (int i = 0; i < 2; ++i)
        first_pass_target(log, kTargets[i], outcomes[i]);
    for (int i = 0; i < 2; ++i)
        second_pass_target(log, kTargets[i], outcomes[i]);
    return outcomes[0] == kReleased && outcomes[1] == kReleased ? 0 : -1;
}

} // namespace cleaner

// The interpreter leaves its self-test command ("-ut service") to the program that links it. The cleaner builds
// only unprotect commands and carries no self-tests: theirs query the agent's automation object, which would bring
// COM (ole32, oleaut32) into the elevated cleaner for a command it never gives. Defined beside the step that pulls
// the interpreter in, so that a linker reading libraries in order has it before the interpreter asks for it.
void run_self_tests(iovchelper*)
{
    helper_cli::write_line("Command failed.");
}
