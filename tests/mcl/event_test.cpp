#include "mcl/event.h"

#include "test_support.h"

#include <gtest/gtest.h>

namespace {

std::string unique_event_name() { return "Local\\" + fltest::narrow(fltest::unique_name(L"mcl_event_")); }

TEST(Event, NamedEventIsManualResetAndSharedByASecondCreator)
{
    const std::string name = unique_event_name();
    mcl::event first;
    ASSERT_EQ(first.create_named(name.c_str()), 0);
    EXPECT_FALSE(first.is_set());
    EXPECT_EQ(first.create_named(name.c_str()), -1);

    mcl::event second;
    ASSERT_EQ(second.create_named(name.c_str()), -2);
    ASSERT_NE(second.handle(), nullptr);
    ASSERT_TRUE(first.set());
    EXPECT_TRUE(second.is_set());
    EXPECT_TRUE(second.is_set());  // manual-reset: a wait does not consume it
    ASSERT_TRUE(second.reset());
    EXPECT_FALSE(first.is_set());
}

TEST(Event, UnnamedEventsAndBorrowedHandles)
{
    mcl::event owned;
    ASSERT_EQ(owned.create(true), 0);
    EXPECT_TRUE(owned.is_set());

    HANDLE raw = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(raw, nullptr);
    {
        mcl::event borrowed;
        borrowed.borrow(raw);
        EXPECT_TRUE(borrowed.set());
    }
    // Still open: the wrapper did not own it.
    EXPECT_EQ(::WaitForSingleObject(raw, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(::CloseHandle(raw));

    owned.close();
    EXPECT_EQ(owned.handle(), nullptr);
    EXPECT_FALSE(owned.set());
    EXPECT_EQ(owned.create(), 0);  // usable again after close
}

// The wrapper holds the only handle of its named event: once it is gone, so is the event.
TEST(Event, OwnedHandleClosesWithTheWrapper)
{
    const std::string name = unique_event_name();
    {
        mcl::event named;
        ASSERT_EQ(named.create_named(name.c_str()), 0);
    }
    EXPECT_EQ(::OpenEventA(SYNCHRONIZE, FALSE, name.c_str()), nullptr);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

} // namespace
