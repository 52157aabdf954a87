// Step 2 and the whole run, timed (bench/run-step2.sh prepares the machine):
//   step 2 alone, called in this process against the protection-service double running under the first
//   name, against one bare helper cycle (create, connect, proto_compatible, release) as its unit: the step
//   makes four such cycles, each with one request more, and its goal is at most 4 x 150 ms;
//   one whole "FerrolinkCleaner.exe -auto" on the demo footprint, each step timed from the moment its title
//   line reaches the run log.
#include "cleaner/steps/protection.h"
#include "helper/unique_helper.h"
#include "mcl/mswin/unique_resource.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

using clock_type = std::chrono::steady_clock;
using mcl::mswin::unique_handle;

const int kRounds = 15;
const double kStepGoalMs = 4 * 150.0;
const char kFirstName[] = "OrvaneClientProtectionService";
const char kLogName[] = "Ferrolink Cleaner Log.txt";

double ms_since(clock_type::time_point start)
{
    return std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
}

struct figures {
    double best;
    double median;
    double worst;
};

template <typename Body>
figures timed(Body body)
{
    std::vector<double> times;
    for (int i = 0; i < kRounds; ++i) {
        const auto start = clock_type::now();
        if (!body())
            return {-1, -1, -1};
        times.push_back(ms_since(start));
    }
    std::sort(times.begin(), times.end());
    return {times.front(), times[times.size() / 2], times.back()};
}

bool helper_cycle()
{
    const unique_helper<> helper(create_helper());
    return helper && helper->connect(2000, kFirstName) && helper->proto_compatible();
}

void print(const char* what, const figures& f)
{
    std::printf("  %-44s best %8.1f  median %8.1f  worst %8.1f ms\n", what, f.best, f.median, f.worst);
}

bool bench_step2()
{
    std::printf("step 2 against the double under %s, %d rounds each:\n", kFirstName, kRounds);
    const figures cycle = timed(helper_cycle);
    const figures step = timed([] { return cleaner::release_client_protection(nullptr) == 0; });
    if (cycle.best < 0 || step.best < 0) {
        std::printf("  the double does not answer under %s\n", kFirstName);
        return false;
    }
    print("helper cycle (create, connect, version, release)", cycle);
    print("release_client_protection (4 cycles + 2 requests)", step);
    std::printf("  step 2 / 4 cycles (median): %.2f\n", step.median / (4 * cycle.median));
    std::printf("  goal: at most %.0f ms -> %s (worst %.1f ms)\n", kStepGoalMs,
                step.worst <= kStepGoalMs ? "met" : "MISSED", step.worst);
    return true;
}

std::string temp_log_path()
{
    char folder[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + kLogName;
}

std::string file_text(const std::string& path)
{
    std::string text;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return text;
    char chunk[4096];
    for (size_t got; (got = std::fread(chunk, 1, sizeof(chunk), file)) > 0;)
        text.append(chunk, got);
    std::fclose(file);
    return text;
}

// The run log's step titles ("1." to "8." at a line start) in the order they appeared, each with the time it
// was first seen, polled every millisecond until the run ends.
struct title_time {
    char step;
    double ms;
};

std::vector<title_time> watch_titles(HANDLE process, const std::string& log, clock_type::time_point start)
{
    std::vector<title_time> seen;
    size_t scanned = 0;
    for (bool running = true; running;) {
        running = ::WaitForSingleObject(process, 1) == WAIT_TIMEOUT;
        const std::string text = file_text(log);
        const double now = ms_since(start);
        // A line start is judged once its first two characters are there.
        for (size_t at = text.find('\n', scanned); at != std::string::npos && at + 2 < text.size();
             at = text.find('\n', at + 1)) {
            scanned = at + 1;
            const char first = text[at + 1];
            if (first >= '1' && first <= '8' && text[at + 2] == '.')
                seen.push_back({first, now});
        }
    }
    return seen;
}

bool bench_whole_run()
{
    const std::string log = temp_log_path();
    ::DeleteFileA(log.c_str());
    char exe[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string command = exe;
    command = "\"" + command.substr(0, command.find_last_of('\\')) + "\\FerrolinkCleaner.exe\" -auto";

    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    const auto start = clock_type::now();
    if (!::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                          &startup, &info)) {
        std::printf("cannot start %s\n", command.c_str());
        return false;
    }
    const unique_handle process(info.hProcess);
    const unique_handle thread(info.hThread);
    const std::vector<title_time> titles = watch_titles(process.get(), log, start);
    const double total = ms_since(start);

    std::printf("\nwhole run: FerrolinkCleaner.exe -auto on the demo footprint, %.1f ms in all\n", total);
    double from = 0;
    std::printf("  %-12s %8.1f ms\n", "start-up", titles.empty() ? total : titles.front().ms);
    for (size_t i = 0; i < titles.size(); ++i) {
        from = titles[i].ms;
        const double to = i + 1 < titles.size() ? titles[i + 1].ms : total;
        std::printf("  step %c       %8.1f ms\n", titles[i].step, to - from);
    }
    return titles.size() == 8;
}

} // namespace

int main()
{
    const bool step2 = bench_step2();
    const bool whole = bench_whole_run();
    return step2 && whole ? 0 : 1;
}
