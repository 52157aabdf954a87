#include "mcl/share_obj.h"

#include "captured_mcl_log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <thread>
#include <vector>

namespace {

std::atomic<int> destroyed{0};

class counted : public mcl::share_obj {
public:
    ~counted() override { destroyed.fetch_add(1); }
    int value = 3;
};

class derived_counted : public counted {};

TEST(SharePtr, CountsReferencesAndDestroysWithTheLast)
{
    destroyed = 0;
    auto* object = new counted;
    EXPECT_EQ(object->reference_count(), 0u);
    {
        mcl::share_ptr<counted> first(object);
        EXPECT_EQ(object->reference_count(), 1u);
        {
            mcl::share_ptr<counted> second(first);
            mcl::share_ptr<counted> third;
            third = second;
            EXPECT_EQ(object->reference_count(), 3u);
            mcl::share_ptr<counted> moved(std::move(third));
            EXPECT_EQ(object->reference_count(), 3u);
            EXPECT_FALSE(third);
        }
        EXPECT_EQ(object->reference_count(), 1u);
        EXPECT_EQ(first->value, 3);
        EXPECT_EQ(destroyed.load(), 0);
    }
    EXPECT_EQ(destroyed.load(), 1);
}

TEST(SharePtr, OverwritingAndResettingDropTheOldTarget)
{
    destroyed = 0;
    mcl::share_ptr<counted> p(new counted);
    p = mcl::share_ptr<counted>(new counted);
    EXPECT_EQ(destroyed.load(), 1);
    mcl::share_ptr<counted> same(p);
    p = same;  // same target: must not reach zero on the way
    EXPECT_EQ(destroyed.load(), 1);
    p.reset();
    same.reset();
    EXPECT_EQ(destroyed.load(), 2);

    mcl::share_ptr<derived_counted> d(new derived_counted);
    mcl::share_ptr<counted> base(d);
    EXPECT_EQ(base->reference_count(), 2u);
}

TEST(SharePtr, LastPointersDroppedAtOnceFromTwoThreadsDestroyOnce)
{
    destroyed = 0;
    constexpr int rounds = 3000;
    // Two long-lived threads each drop one of the two pointers of a round as soon as the round opens.
    mcl::share_ptr<counted>* slots[2] = {nullptr, nullptr};
    std::atomic<int> round{0};
    std::atomic<int> dropped{0};
    auto dropper = [&](int which) {
        for (int r = 1; r <= rounds; ++r) {
            while (round.load() < r)
                std::this_thread::yield();
            delete slots[which];
            dropped.fetch_add(1);
        }
    };
    std::thread one(dropper, 0);
    std::thread two(dropper, 1);
    for (int r = 1; r <= rounds; ++r) {
        slots[0] = new mcl::share_ptr<counted>(new counted);
        slots[1] = new mcl::share_ptr<counted>(*slots[0]);
        round.store(r);
        while (dropped.load() < 2 * r)
            std::this_thread::yield();
    }
    one.join();
    two.join();
    EXPECT_EQ(destroyed.load(), rounds);
}

TEST(ShareObj, DeletionWithReferencesLeftIsLogged)
{
    fltest::captured_mcl_log log;
    auto* object = new counted;
    // A pointer that is never destroyed, so the deliberate early delete cannot be dropped twice.
    alignas(mcl::share_ptr<counted>) unsigned char slot[sizeof(mcl::share_ptr<counted>)];
    new (slot) mcl::share_ptr<counted>(object);
    delete object;
    EXPECT_TRUE(log.contains("[mcl::share_obj::~share_obj:17] - a shared object has been deleted with reference "
                             "count 1\n"))
        << log.text();

    auto* clean = new counted;
    { mcl::share_ptr<counted> p(clean); }
    EXPECT_EQ(log.text().find("count 0"), std::string::npos);
}

} // namespace
