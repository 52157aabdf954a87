#pragma once

namespace cleaner {

// Ends the first running process whose image name equals `image_name` (case-insensitive).
// 0 terminated, 1 none running, 2 process list unavailable, 3 termination failed (logged).
[[nodiscard]] int stop_process(const wchar_t* image_name);

} // namespace cleaner
