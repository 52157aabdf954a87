#include "self_test_support.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>

namespace fltest {

captured_stdout::captured_stdout() : path_(folder_ / L"stdout.txt")
{
    std::fflush(stdout);
    const int file = ::_wopen(path_.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (file < 0)
        return;
    saved_ = ::_dup(1);
    ::_dup2(file, 1);
    ::_close(file);
}

captured_stdout::~captured_stdout()
{
    restore();
}

void captured_stdout::restore()
{
    if (saved_ < 0)
        return;
    std::fflush(stdout);
    ::_dup2(saved_, 1);
    ::_close(saved_);
    saved_ = -1;
}

std::string captured_stdout::text()
{
    restore();
    std::string result;
    for (char c : read_text(path_)) {
        if (c != '\r')
            result += c;
    }
    return result;
}

namespace {

using server_export = HRESULT(__stdcall*)();

HRESULT call_export(HMODULE module, const char* name)
{
    const auto function = reinterpret_cast<server_export>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
    return function != nullptr ? function() : E_NOTIMPL;
}

} // namespace

sentinel_registration::sentinel_registration()
    : module_(::LoadLibraryW(bin_path(L"sentinel_double.dll").c_str()))
{
    registered_ = module_ != nullptr && SUCCEEDED(call_export(module_, "DllRegisterServer"));
}

sentinel_registration::~sentinel_registration()
{
    if (module_ == nullptr)
        return;
    call_export(module_, "DllUnregisterServer");
    ::FreeLibrary(module_);
}

void sentinel_registration::remove()
{
    sentinel_registration registration;
}

bool query_only_helper::query_protected_services(std::uint8_t log, std::vector<protected_service>& list)
{
    ++queries;
    if (log != 0 || !answers)
        return false;
    list.insert(list.end(), records.begin(), records.end());
    return true;
}

} // namespace fltest
