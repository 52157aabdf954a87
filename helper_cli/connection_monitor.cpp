#include "helper_cli/connection_monitor.h"

#include "helper_cli/console_output.h"

#include <thread>

namespace helper_cli {

void monitor_connection(iovchelper* helper, const std::function<bool(std::chrono::milliseconds)>& pause)
{
    do {
        const bool answered = helper != nullptr && helper->proto_compatible();
        write_text(answered ? "." : "!");
    } while (pause(monitor_interval));
}

void monitor_connection_forever(iovchelper* helper)
{
    monitor_connection(helper, [](std::chrono::milliseconds interval) {
        std::this_thread::sleep_for(interval);
        return true;
    });
}

} // namespace helper_cli
