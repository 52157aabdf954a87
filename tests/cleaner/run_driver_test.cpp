#include "test_support.h"

#include <gtest/gtest.h>

using namespace fltest;

namespace {

TEST(run_driver, placeholder_builds)
{
    EXPECT_TRUE(exists(bin_path(L"FerrolinkCleaner.exe")));
}

} // namespace
