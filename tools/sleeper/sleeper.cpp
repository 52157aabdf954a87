// Stands in for one of the client's processes: sleeps until killed, or for the seconds given.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    const DWORD seconds = argc > 1 ? static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10)) : 3600;
    ::Sleep(seconds * 1000);
    return 0;
}
