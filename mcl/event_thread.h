// A thread that drains a queue of event records, one handle_event call per record, in posting order.
#pragma once

#include "mcl/thread.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <utility>

namespace mcl {

template <typename Record>
class event_thread : public thread {
public:
    event_thread() { wake_event.create(); }
    // Stops before the queue and the wake event go. A derived class whose handler uses its own members
    // stops in its own destructor as well.
    ~event_thread() override { stop(10); }

    void stop(unsigned seconds) override
    {
        thread::stop(seconds);
        clear_events();
    }

    DWORD run() override
    {
        const HANDLE waits[2] = {stop_event.handle(), wake_event.handle()};
        for (;;) {
            const DWORD result = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
            if (result != WAIT_OBJECT_0 + 1)
                return 0;
            wake_event.reset();
            process_events();
        }
    }

    // Drops every queued record; they are destroyed after the lock is let go.
    virtual void clear_events()
    {
        std::deque<Record> taken;
        {
            scoped_lock guard(queue_lock);
            taken.swap(queue);
            wake_event.reset();
        }
    }

    // Handles queued records in order until the queue is empty or a handler returns a negative result; what
    // is left then waits for the next post_event.
    virtual void process_events()
    {
        for (;;) {
            std::optional<Record> record;
            {
                scoped_lock guard(queue_lock);
                if (queue.empty())
                    return;
                record.emplace(queue.front());
                queue.pop_front();
            }
            if (handle_event(*record) < 0)
                return;
        }
    }

    virtual std::int32_t handle_event(const Record& record)
    {
        (void)record;
        return 0;
    }

    void post_event(const Record& record)
    {
        scoped_lock guard(queue_lock);
        queue.push_back(record);
        wake_event.set();
    }

    std::size_t queued_events() const
    {
        scoped_lock guard(queue_lock);
        return queue.size();
    }

protected:
    event wake_event;
    std::deque<Record> queue;
    mutable lock queue_lock;
};

} // namespace mcl
