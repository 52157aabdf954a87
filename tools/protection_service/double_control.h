// What tests, benchmarks and the double's own command line use to drive the protection-service double:
// install, start, stop and remove it as a Windows service, write its script, and read its log back.
// Names and paths are UTF-8; paths are Windows paths.
#pragma once

#include "log_format.h"

#include <string>
#include <vector>

namespace protection_double {

// Each of these waits at most this long for the state it asked for.
constexpr unsigned long state_wait_ms = 15000;

// Registers protection_service.exe (exe_path()) as an own-process service under `name`, demand start unless
// `auto_start`, listening under that name with the given script and log. Does not start it. On failure, and
// when `why` is given, a sentence saying what failed.
bool install(const std::string& name, const std::string& script_path, const std::string& log_path,
             bool auto_start = false, std::string* why = nullptr);
// Stops it when it runs (ending its process if it will not stop in time), then deletes it. True also when
// it was not installed.
bool uninstall(const std::string& name, std::string* why = nullptr);
// Starts it and waits until it runs; true when it already ran.
bool start(const std::string& name, std::string* why = nullptr);
// Stops it and waits until it is stopped; true when it was not running or its process has ended.
bool stop(const std::string& name, std::string* why = nullptr);

// True while the service control manager reports it running and its process lives (Wine's manager goes on
// reporting a service whose process died as running).
bool is_running(const std::string& name);

// protection_service.exe in the folder of the running program.
std::string exe_path();
// A folder for scripts and logs under the temporary folder, made if missing ("" when it cannot be).
std::string work_folder();

bool write_text_file(const std::string& path, const std::string& text);
// The file's lines without their line ends; empty when it cannot be read.
std::vector<std::string> read_lines(const std::string& path);

} // namespace protection_double
