// The cleaner's per-target use of a client helper (create, service_stopped, connect, proto_compatible, one
// unprotect, release) against the protection-service double running as a service. Prints the median of each
// phase and of the whole, and the whole against the floor that reply polling sets (two requests of one poll).
#include "helper/unique_helper.h"
#include "mcl/ipc_peer.h"
#include "double_control.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using clock_type = std::chrono::steady_clock;

constexpr int rounds = 21;
constexpr double floor_ms = 2.0 * mcl::ipc_peer::reply_poll_ms;

double ms_since(clock_type::time_point start)
{
    return std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
}

// The double installed and started under a name of this run; uninstalled at the end.
class running_double {
public:
    running_double()
        : name_("fl_helper_bench_" + std::to_string(::GetCurrentProcessId())),
          script_(protection_double::work_folder() + "\\" + name_ + ".script"),
          log_(protection_double::work_folder() + "\\" + name_ + ".log")
    {
        ok_ = protection_double::write_text_file(script_, "") &&
              protection_double::install(name_, script_, log_, false, &why_) && protection_double::start(name_, &why_);
    }
    ~running_double() { protection_double::uninstall(name_); }
    bool ok() const { return ok_; }
    const std::string& why() const { return why_; }
    const std::string& name() const { return name_; }

private:
    std::string name_;
    std::string script_;
    std::string log_;
    std::string why_;
    bool ok_ = false;
};

struct phases {
    double create = 0, stopped = 0, connect = 0, version = 0, unprotect = 0, release = 0, total = 0;
};

bool one_target(const std::string& service, phases& took)
{
    const auto start = clock_type::now();
    auto mark = start;
    auto lap = [&mark](double& into) {
        into = ms_since(mark);
        mark = clock_type::now();
    };
    unique_helper<> helper(create_helper());
    lap(took.create);
    if (!helper)
        return false;
    const bool stopped = helper->service_stopped(service);
    lap(took.stopped);
    const bool connected = helper->connect(2000, service);
    lap(took.connect);
    const bool compatible = connected && helper->proto_compatible();
    lap(took.version);
    request_result result;
    const bool unprotected = compatible && helper->unprotect_service("ORVANE_Ferrolink", &result);
    lap(took.unprotect);
    helper.reset();
    lap(took.release);
    took.total = ms_since(start);
    return !stopped && unprotected;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

template <typename Field>
double median_of(const std::vector<phases>& all, Field field)
{
    std::vector<double> values;
    for (const phases& each : all)
        values.push_back(each.*field);
    return median(values);
}

} // namespace

int main()
{
    running_double service;
    if (!service.ok()) {
        std::fprintf(stderr, "helper_bench: the protection service double is not running: %s\n", service.why().c_str());
        return 1;
    }
    std::vector<phases> all;
    for (int i = 0; i < rounds; ++i) {
        phases took;
        if (!one_target(service.name(), took)) {
            std::fprintf(stderr, "helper_bench: round %d failed\n", i + 1);
            return 1;
        }
        all.push_back(took);
    }
    std::printf("per target, median of %d rounds (ms):\n", rounds);
    std::printf("  create           %8.2f\n", median_of(all, &phases::create));
    std::printf("  service_stopped  %8.2f\n", median_of(all, &phases::stopped));
    std::printf("  connect          %8.2f\n", median_of(all, &phases::connect));
    std::printf("  proto_compatible %8.2f\n", median_of(all, &phases::version));
    std::printf("  unprotect        %8.2f\n", median_of(all, &phases::unprotect));
    std::printf("  release          %8.2f\n", median_of(all, &phases::release));
    const double total = median_of(all, &phases::total);
    std::printf("  whole target     %8.2f  = %.2fx the polling floor of %.0f ms (goal: at most 1.5x)\n", total,
                total / floor_ms, floor_ms);
    return 0;
}
