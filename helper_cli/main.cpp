// OVClientHelperCLI.exe: the stand-alone helper command tool. Its command line is the interpreter's word
// vector; the tool connects a helper to the client protection service the way the cleaner does, runs the one
// command and maps the interpreter's result to the exit code (0 carried out, 2 usage printed, 1 no usable
// connection).
#include <windows.h>
#include <shellapi.h>

#include "helper/unique_helper.h"
#include "helper_cli/console_output.h"
#include "helper_cli/helper_command.h"
#include "mcl/mswin/system_library.h"
#include "mcl/mswin/unique_resource.h"
#include "mcl/mswin/utf.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

// Tried in this order: the service has been installed under either name.
const char* const protection_service_names[] = {"OrvaneClientProtectionService", "orvane_client_protection_svc"};
const std::int32_t connect_timeout_ms = 2000;

const int exit_carried_out = 0;
const int exit_no_connection = 1;
const int exit_usage = 2;


// The interpreter writes UTF-8; the console shows it as such while the tool runs and gets its own code page
// back at exit, also when Ctrl+C or closing the window ends the process (the only way out of "-m").
class utf8_console {
public:
    utf8_console()
    {
        saved_ = ::GetConsoleOutputCP();
        if (saved_ == 0)
            return;
        ::SetConsoleOutputCP(CP_UTF8);
        ::SetConsoleCtrlHandler(restore_on_signal, TRUE);
    }
    ~utf8_console()
    {
        restore();
        ::SetConsoleCtrlHandler(restore_on_signal, FALSE);
    }
    utf8_console(const utf8_console&) = delete;
    utf8_console& operator=(const utf8_console&) = delete;

private:
    static void restore()
    {
        if (saved_ != 0)
            ::SetConsoleOutputCP(saved_);
    }
    // Restores and lets the default handler end the process.
    static BOOL WINAPI restore_on_signal(DWORD)
    {
        restore();
        return FALSE;
    }
    static UINT saved_;
};

UINT utf8_console::saved_ = 0;

// The command line as UTF-8 words: the helper takes narrow operands as UTF-8, so a path outside the active
// code page must not go through the code-page argv.
std::vector<std::string> utf8_words()
{
    std::vector<std::string> words;
    int count = 0;
    const mcl::mswin::unique_hlocal block(::CommandLineToArgvW(::GetCommandLineW(), &count));
    if (!block)
        return words;
    wchar_t** wide = static_cast<wchar_t**>(block.get());
    for (int i = 0; i < count; ++i)
        words.push_back(mcl::mswin::wide_to_utf8(wide[i]));
    return words;
}

bool is_help_word(const std::string& word)
{
    return word.size() == 2 && word[0] == '-' && (word[1] == 'h' || word[1] == 'H');
}

const char* installed_protection_service(iovchelper& helper)
{
    for (const char* name : protection_service_names) {
        if (helper.service_installed(name))
            return name;
    }
    return nullptr;
}

const char unable_to_connect[] =
    "Unable to connect client protection service, please make sure it has been started.";

bool connect_to_protection_service(iovchelper* helper)
{
    if (helper == nullptr) {
        helper_cli::write_line(unable_to_connect);
        return false;
    }
    const char* name = installed_protection_service(*helper);
    if (name != nullptr && helper->service_stopped(name))
        helper_cli::write_line("Client protection service is stopped, trying to re-start the service...");
    if (name == nullptr || !helper->connect(connect_timeout_ms, name)) {
        helper_cli::write_line(unable_to_connect);
        return false;
    }
    if (!helper->proto_compatible()) {
        helper_cli::write_line("Service and client use incompatible IPC protocols.");
        return false;
    }
    return true;
}

int exit_code(std::int32_t result)
{
    return result == -2 ? exit_usage : exit_carried_out;
}

int run(const std::vector<std::string>& words)
{
    std::vector<const char*> vector;
    for (const std::string& word : words)
        vector.push_back(word.c_str());
    vector.push_back(nullptr);
    const std::int32_t count = static_cast<std::int32_t>(words.empty() ? 0 : words.size() - 1);

    // Nothing to send: the usage text needs no service.
    if (count == 0 || (count == 1 && is_help_word(words[1])))
        return exit_code(run_helper_command(nullptr, count, vector.data()));

    const unique_helper<> helper(create_helper());
    if (!connect_to_protection_service(helper.get()))
        return exit_no_connection;
    return exit_code(run_helper_command(helper.get(), count, vector.data()));
}

} // namespace

int main()
{
    mcl::mswin::restrict_dll_search();
    const utf8_console console;
    init_registry_root_tables();
    return run(utf8_words());
}
