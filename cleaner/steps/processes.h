#pragma once

namespace cleaner {

// Step 1, once per image of the client.
// Ends every running process whose image name equals `image_name` (case-insensitive), taking the process list
// again until none is left (a few rounds), then waits for them to end. One that ends by itself before it is
// terminated counts as stopped. 0 terminated, 1 none running, 2 process list unavailable, 3 a copy still runs
// (logged, with the error of the last failed termination).
[[nodiscard]] int stop_process(const wchar_t* image_name);

} // namespace cleaner
