// The shipped programs run elevated from wherever an administrator unpacked them: every library they import is
// one that Windows takes only from its own folder (a KnownDLL), never from beside the program.
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <vector>

using namespace fltest;

namespace {

// The DLL names of a program's import and delay-import directories, lower case, read from its file.
std::vector<std::string> imported_dlls(const std::wstring& program)
{
    std::ifstream file(std::filesystem::path(program), std::ios::binary);
    const std::string image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<std::string> names;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
    if (image.size() < sizeof(*dos) || dos->e_lfanew <= 0 || image.size() < dos->e_lfanew + sizeof(IMAGE_NT_HEADERS64))
        return names;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(image.data() + dos->e_lfanew);
    const auto offset_of = [&](DWORD rva) {
        const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
            if (rva >= section->VirtualAddress && rva < section->VirtualAddress + section->SizeOfRawData)
                return static_cast<size_t>(section->PointerToRawData + (rva - section->VirtualAddress));
        }
        return image.size();
    };
    const struct { int directory; size_t size; size_t name_at; } tables[] = {
        {IMAGE_DIRECTORY_ENTRY_IMPORT, sizeof(IMAGE_IMPORT_DESCRIPTOR), offsetof(IMAGE_IMPORT_DESCRIPTOR, Name)},
        {IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT, sizeof(IMAGE_DELAYLOAD_DESCRIPTOR),
         offsetof(IMAGE_DELAYLOAD_DESCRIPTOR, DllNameRVA)}};
    for (const auto& table : tables) {
        const DWORD rva = nt->OptionalHeader.DataDirectory[table.directory].VirtualAddress;
        for (size_t at = rva == 0 ? image.size() : offset_of(rva); at + table.size <= image.size(); at += table.size) {
            const size_t name_at = offset_of(*reinterpret_cast<const DWORD*>(image.data() + at + table.name_at));
            if (name_at >= image.size())
                break;
            std::string name(image.c_str() + name_at);
            std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
            names.push_back(name);
        }
    }
    return names;
}

// ntdll.dll is mapped into every process by the kernel before anything else, and is a KnownDLL too.
const std::set<std::string> kKnownDlls = {
    "kernel32.dll", "advapi32.dll", "user32.dll", "gdi32.dll",  "shell32.dll", "ole32.dll", "oleaut32.dll",
    "setupapi.dll", "shlwapi.dll",  "psapi.dll",  "rpcrt4.dll", "msvcrt.dll",  "ntdll.dll"};

TEST(ShippedPrograms, ImportOnlyKnownDlls)
{
    for (const wchar_t* program : {L"FerrolinkCleaner.exe", L"FerrolinkAudit.exe", L"OVClientHelperCLI.exe"}) {
        SCOPED_TRACE(narrow(program));
        const std::vector<std::string> dlls = imported_dlls(bin_path(program));
        EXPECT_NE(dlls.end(), std::find(dlls.begin(), dlls.end(), "kernel32.dll")) << "import table not read";
        for (const std::string& dll : dlls)
            EXPECT_EQ(1u, kKnownDlls.count(dll)) << dll;
    }
}

// The cleaner and the audit need no COM: neither brings ole32 or oleaut32 into its process (the helper tool's
// self-tests are the only users of the agent's automation object).
TEST(ShippedPrograms, CleanerAndAuditImportNoCom)
{
    for (const wchar_t* program : {L"FerrolinkCleaner.exe", L"FerrolinkAudit.exe"}) {
        SCOPED_TRACE(narrow(program));
        const std::vector<std::string> dlls = imported_dlls(bin_path(program));
        EXPECT_NE(dlls.end(), std::find(dlls.begin(), dlls.end(), "kernel32.dll")) << "import table not read";
        for (const char* com : {"ole32.dll", "oleaut32.dll"})
            EXPECT_EQ(dlls.end(), std::find(dlls.begin(), dlls.end(), com)) << com;
    }
}

} // namespace
