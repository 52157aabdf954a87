// footprint.exe: installs, shows and removes the Ferrolink client's footprint on a test or demo machine.
#include "commands.h"
#include "registry_footprint.h"
#include "mcl/mswin/unique_resource.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>

namespace {

using footprint::part_command;

// One line per part; a new part adds its handler here.
const part_command kParts[] = {
    {L"services", footprint::services_usage, footprint::services_command},
    {L"adapter", footprint::adapter_usage, footprint::adapter_command},
    {L"driver", footprint::driver_usage, footprint::driver_command},
    {L"files", footprint::files_usage, footprint::files_command},
    {L"shortcuts", footprint::shortcuts_usage, footprint::shortcuts_command},
    {L"registry", footprint::registry_usage, footprint::registry_command},
};

int usage()
{
    std::printf("usage: footprint <part> [action] [arguments]\n");
    for (const part_command& part : kParts)
        std::printf("%s", part.usage);
    return 2;
}

} // namespace

int main()
{
    int argc = 0;
    const mcl::mswin::unique_hlocal argv_block(::CommandLineToArgvW(::GetCommandLineW(), &argc));
    wchar_t** argv = static_cast<wchar_t**>(argv_block.get());
    if (argv == nullptr || argc < 2)
        return usage();
    for (const part_command& part : kParts) {
        if (std::wcscmp(argv[1], part.name) == 0) {
            const int result = part.run(footprint::arguments(argv + 2, argv + argc));
            if (result == 2)
                std::printf("usage:\n%s", part.usage);
            return result;
        }
    }
    return usage();
}
