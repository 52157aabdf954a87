#include "cleaner/protection_release.h"

#include "footprint/footprint.h"
#include "helper/unique_helper.h"
#include "helper_cli/helper_command.h"

#include <cstdarg>

namespace cleaner {

namespace {

const std::int32_t kNotRun = -2;
const std::int32_t kCarriedOut = -1;
const std::int32_t kConnectTimeoutMs = 2000;
const std::int32_t kWordCount = 3;

const char* const kFirstServiceName = ferrolink::protection_service_names[0];
const char* const kSecondServiceName = ferrolink::protection_service_names[1];

struct target {
    const char* const* words;
    const char* progress;
    const char* unprotected;
    const char* already_done;
};

const char* const kServiceWords[] = {"OVClientHelperCLI.exe", "-u", "service", "ORVANE_Ferrolink", nullptr};
const char* const kRegistryWords[] = {"OVClientHelperCLI.exe", "-u", "reg",
                                      "HKLM\\SOFTWARE\\OrVANE\\SSL-VPN Ferrolink\\Standalone", nullptr};

const target kTargets[] = {
    {kServiceWords, "\tTrying to stop protection of Ferrolink service:", "\tFerrolink service unprotected.",
     "\tFerrolink service have already unprotected."},
    {kRegistryWords, "\tTrying to stop protection of Ferrolink reg:", "\tFerrolink reg unprotected.",
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

// The unprotect command on a connected, compatible helper; the helper is released before returning.
std::int32_t unprotect(FILE* log, unique_helper<> helper, const target& what)
{
    const std::int32_t outcome = run_helper_command(helper.get(), kWordCount, what.words);
    if (outcome == kCarriedOut)
        line(log, "%s", what.unprotected);
    return outcome;
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
        if (outcome == kCarriedOut)
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
    std::int32_t outcomes[] = {kNotRun, kNotRun};
    for (int i = 0; i < 2; ++i)
        first_pass_target(log, kTargets[i], outcomes[i]);
    for (int i = 0; i < 2; ++i)
        second_pass_target(log, kTargets[i], outcomes[i]);
    return outcomes[0] == kCarriedOut && outcomes[1] == kCarriedOut ? 0 : -1;
}

} // namespace cleaner
