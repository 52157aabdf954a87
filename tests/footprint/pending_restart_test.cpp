// What Windows deletes only when it restarts, as the footprint layer reads it.
#include "footprint/pending_restart.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The reader of PendingFileRenameOperations: pairs of a source and a target, an empty target deleting the source.
TEST(PendingRestartReader, OnlyDeletionsCountUpToTheEndOfTheList)
{
    using namespace std::string_literals;
    const struct {
        const char* what;
        std::wstring value;
        std::vector<std::wstring> deletions;
    } cases[] = {
        {"a deletion", L"\\??\\C:\\a.txt\0\0"s, {L"C:\\a.txt"}},
        {"a rename", L"\\??\\C:\\a.txt\0\\??\\C:\\b.txt\0"s, {}},
        {"a replace", L"\\??\\C:\\a.txt\0!\\??\\C:\\b.txt\0"s, {}},
        {"the UNC form", L"\\??\\UNC\\server\\share\\a.txt\0\0"s, {L"\\\\server\\share\\a.txt"}},
        {"a rename, then a deletion", L"\\??\\C:\\r\0\\??\\C:\\s\0\\??\\C:\\d\0\0"s, {L"C:\\d"}},
        {"the end of the list", L"\\??\\C:\\a.txt\0\0\0\\??\\C:\\after.txt\0\0"s, {L"C:\\a.txt"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.deletions, ferrolink::deletions_in(c.value.data(), c.value.size())) << c.what;
}

} // namespace
