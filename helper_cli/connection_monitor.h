// The interpreter's "-m" command: a connection check once a second, shown as "." (answered) or "!".
#pragma once

#include "helper/iovchelper.h"

#include <chrono>
#include <functional>

namespace helper_cli {

constexpr std::chrono::milliseconds monitor_interval{1000};

// One check per round; after each, `pause` is given the interval and returns whether to go on.
// A null helper counts as a failed check.
void monitor_connection(iovchelper* helper, const std::function<bool(std::chrono::milliseconds)>& pause);

// Checks until the process ends.
void monitor_connection_forever(iovchelper* helper);

} // namespace helper_cli
