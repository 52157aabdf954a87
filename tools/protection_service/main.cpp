// protection_service: the protection-service double's command line (see README.md).
#include "double_control.h"
#include "service_host.h"

#include "mcl/mswin/unique_resource.h"
#include "mcl/mswin/utf.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using protection_double::host_options;

constexpr int exit_ok = 0;
constexpr int exit_failed = 1;
constexpr int exit_usage = 2;

const char* const usage =
    "usage: protection_service install NAME --script PATH --log PATH [--auto]\n"
    "       protection_service uninstall NAME | start NAME | stop NAME\n"
    "       protection_service console NAME --script PATH --log PATH\n"
    "       protection_service service NAME --script PATH --log PATH   (the installed service's own entry)\n";

struct command_line {
    std::string verb;
    std::string name;
    std::wstring script_path;
    std::wstring log_path;
    bool auto_start = false;
};

std::vector<std::wstring> arguments()
{
    int count = 0;
    const mcl::mswin::unique_hlocal block(::CommandLineToArgvW(::GetCommandLineW(), &count));
    std::vector<std::wstring> words;
    wchar_t** const argv = static_cast<wchar_t**>(block.get());
    for (int i = 1; argv != nullptr && i < count; ++i)
        words.emplace_back(argv[i]);
    return words;
}

// False for anything the usage does not allow.
bool parse(const std::vector<std::wstring>& words, command_line& out)
{
    if (words.size() < 2)
        return false;
    out.verb = mcl::mswin::wide_to_utf8(words[0]);
    out.name = mcl::mswin::wide_to_utf8(words[1]);
    for (std::size_t i = 2; i < words.size(); ++i) {
        const bool has_value = i + 1 < words.size();
        if (words[i] == L"--script" && has_value)
            out.script_path = words[++i];
        else if (words[i] == L"--log" && has_value)
            out.log_path = words[++i];
        else if (words[i] == L"--auto" && out.verb == "install")
            out.auto_start = true;
        else
            return false;
    }
    const bool runs = out.verb == "install" || out.verb == "console" || out.verb == "service";
    if (runs)
        return !out.name.empty() && !out.script_path.empty() && !out.log_path.empty();
    const bool controls = out.verb == "uninstall" || out.verb == "start" || out.verb == "stop";
    return controls && words.size() == 2;
}

int controlled(bool done, const std::string& why)
{
    if (done)
        return exit_ok;
    std::fprintf(stderr, "protection_service: %s\n", why.c_str());
    return exit_failed;
}

} // namespace

int main()
{
    command_line command;
    if (!parse(arguments(), command)) {
        std::fputs(usage, stderr);
        return exit_usage;
    }
    const host_options host{command.name, command.script_path, command.log_path};
    if (command.verb == "service")
        return protection_double::run_service(host);
    if (command.verb == "console")
        return protection_double::run_console(host);
    std::string why;
    if (command.verb == "install")
        return controlled(protection_double::install(command.name, mcl::mswin::wide_to_utf8(command.script_path),
                                                     mcl::mswin::wide_to_utf8(command.log_path),
                                                     command.auto_start, &why),
                          why);
    if (command.verb == "uninstall")
        return controlled(protection_double::uninstall(command.name, &why), why);
    if (command.verb == "start")
        return controlled(protection_double::start(command.name, &why), why);
    return controlled(protection_double::stop(command.name, &why), why);
}
