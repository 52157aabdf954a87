// fake_client.exe: installs, shows and removes a fake Ferrolink client's footprint on a test or demo machine.
#include "commands.h"
#include "registry_footprint.h"
#include "mcl/mswin/unique_resource.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>

namespace {

using fake_client::part_command;

// One line per part; a new part adds its handler here.
const part_command kParts[] = {
    {L"services", fake_client::services_usage, fake_client::services_command},
    {L"adapter", fake_client::adapter_usage, fake_client::adapter_command},
    {L"driver", fake_client::driver_usage, fake_client::driver_command},
    {L"files", fake_client::files_usage, fake_client::files_command},
    {L"shortcuts", fake_client::shortcuts_usage, fake_client::shortcuts_command},
    {L"registry", fake_client::registry_usage, fake_client::registry_command},
};

int usage()
{
    std::printf("usage: fake_client <part> [action] [arguments]\n");
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
            const int result = part.run(fake_client::arguments(argv + 2, argv + argc));
            if (result == 2)
                std::printf("usage:\n%s", part.usage);
            return result;
        }
    }
    return usage();
}
