// FerrolinkAudit.exe: what is left of the Ferrolink client on this machine. Only reads.
#include "audit/checks.h"
#include "audit/json_report.h"
#include "audit/text_report.h"
#include "fl_version.h"
#include "mcl/mswin/system_library.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kVersion[] = FL_VERSION_TEXT;
const int kCouldNotRun = 2;

const char kUsage[] =
    "usage: FerrolinkAudit [--json]\n"
    "Reports what is left of the Ferrolink client on this machine, one item per line (--json: one JSON\n"
    "document). Changes nothing. Exit code: 0 nothing of the client is left, 1 something is, 2 the audit\n"
    "could not tell (an item could not be checked, or a wrong command line).\n";

bool write_all(const std::string& text)
{
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    mcl::mswin::restrict_dll_search();
    const bool json = argc == 2 && std::strcmp(argv[1], "--json") == 0;
    if (argc > 2 || (argc == 2 && !json)) {
        std::fputs(kUsage, stderr);
        return kCouldNotRun;
    }
    const audit::audit_report report = audit::run_audit();
    const std::string text = json ? audit::json_report(report, kVersion) : audit::text_report(report, kVersion);
    // Output that did not arrive must not read as an answer.
    if (!write_all(text))
        return kCouldNotRun;
    return audit::exit_code_of(audit::verdict_of(report));
}
