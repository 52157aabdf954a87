#include "mcl/event_thread.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct record {
    int id = 0;
};

// Records what it handles; a chosen id returns -1, another posts a follow-up.
class recording_thread : public mcl::event_thread<record> {
public:
    ~recording_thread() override { stop(10); }

    std::int32_t handle_event(const record& r) override
    {
        {
            mcl::scoped_lock guard(seen_lock_);
            seen_.push_back(r.id);
        }
        if (r.id == follow_up_id)
            post_event(record{r.id * 10});
        return r.id == failing_id ? -1 : 0;
    }

    std::vector<int> seen()
    {
        mcl::scoped_lock guard(seen_lock_);
        return seen_;
    }

    // Polls until `count` records were handled (at most 5 s).
    bool wait_for(std::size_t count)
    {
        return fltest::eventually([&] { return seen().size() >= count; });
    }

    int failing_id = -100;
    int follow_up_id = -100;

private:
    mcl::lock seen_lock_;
    std::vector<int> seen_;
};

TEST(EventThread, HandlesRecordsInPostingOrderAndLetsHandlersPost)
{
    recording_thread t;
    t.follow_up_id = 2;
    // Queued before the start: a post racing the handler of 2 would let its follow-up overtake 4 and 5.
    for (int id = 1; id <= 5; ++id)
        t.post_event(record{id});
    ASSERT_TRUE(t.start());
    ASSERT_TRUE(t.wait_for(6));
    EXPECT_EQ(t.seen(), (std::vector<int>{1, 2, 3, 4, 5, 20}));
}

TEST(EventThread, NegativeResultLeavesLaterRecordsQueuedUntilTheNextPost)
{
    recording_thread t;
    t.failing_id = 2;
    t.post_event(record{1});
    t.post_event(record{2});
    t.post_event(record{3});
    ASSERT_TRUE(t.start());
    ASSERT_TRUE(t.wait_for(2));
    ::Sleep(50);
    EXPECT_EQ(t.seen(), (std::vector<int>{1, 2}));
    EXPECT_EQ(t.queued_events(), 1u);

    t.post_event(record{4});
    ASSERT_TRUE(t.wait_for(4));
    EXPECT_EQ(t.seen(), (std::vector<int>{1, 2, 3, 4}));
}

TEST(EventThread, StopDiscardsWhatIsStillQueued)
{
    recording_thread t;
    t.failing_id = 1;  // leaves 2 and 3 waiting in the queue
    // Queued before the start: a post after the failing record was handled would wake the thread again.
    t.post_event(record{1});
    t.post_event(record{2});
    t.post_event(record{3});
    ASSERT_TRUE(t.start());
    ASSERT_TRUE(t.wait_for(1));
    t.stop(5);
    EXPECT_FALSE(t.running());
    EXPECT_EQ(t.queued_events(), 0u);

    ASSERT_TRUE(t.start());
    t.post_event(record{4});
    ASSERT_TRUE(t.wait_for(2));
    ::Sleep(20);
    EXPECT_EQ(t.seen(), (std::vector<int>{1, 4}));
}

TEST(EventThread, ClearEventsEmptiesTheQueueWithoutStopping)
{
    recording_thread t;
    t.post_event(record{1});
    t.post_event(record{2});
    t.clear_events();
    EXPECT_EQ(t.queued_events(), 0u);
    ASSERT_TRUE(t.start());
    t.post_event(record{3});
    ASSERT_TRUE(t.wait_for(1));
    EXPECT_EQ(t.seen(), (std::vector<int>{3}));
}

} // namespace
