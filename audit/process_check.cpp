#include "audit/check_support.h"
#include "audit/checks.h"
#include "footprint/footprint.h"
#include "footprint/process_image.h"
#include "mcl/mswin/unique_resource.h"

#include <tlhelp32.h>

namespace audit {

namespace {

const char kPart[] = "processes";

// How many running processes carry the image name, compared as the process stopper does (whole name,
// ordinally, ignoring case).
unsigned count_running(HANDLE snapshot, const wchar_t* image)
{
    unsigned count = 0;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
        if (ferrolink::same_image_name(entry.szExeFile, image))
            ++count;
    }
    return count;
}

} // namespace

audit_items check_processes()
{
    audit_items items;
    const mcl::mswin::unique_handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    const DWORD error = snapshot ? 0 : ::GetLastError();
    for (const wchar_t* image : ferrolink::process_images) {
        const unsigned running = snapshot ? count_running(snapshot.get(), image) : 0;
        if (!snapshot)
            items.push_back(unchecked_item(kPart, wide_to_utf8(image), error));
        else
            items.push_back(running == 0
                                ? absent_item(kPart, wide_to_utf8(image))
                                : present_item(kPart, wide_to_utf8(image), std::to_string(running) + " running"));
        items.back().id = "process:" + wide_to_utf8(image);
    }
    return items;
}

} // namespace audit
