// What the service sends of its own accord, and a service that goes away while a request waits.
#include "helper_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <mutex>

namespace {

using namespace helpertest;

std::string hex_of(const mcl::binary_t& payload)
{
    std::string text;
    char pair[3] = {};
    for (std::uint32_t i = 0; i < payload.size(); ++i) {
        std::snprintf(pair, sizeof(pair), "%02x", payload.data()[i]);
        text += pair;
    }
    return text;
}

// Records what reaches it; answers requests with 01 02 when asked to.
class recording_delegate : public mcl::ipc_msg_handler {
public:
    explicit recording_delegate(bool rewrite) : rewrite_(rewrite) {}

    std::int32_t handle_message(const mcl::ipc_connection_ptr&, std::uint32_t id, mcl::binary_t& payload) override
    {
        char head[16] = {};
        std::snprintf(head, sizeof(head), "0x%08X ", id);
        {
            std::lock_guard<std::mutex> guard(lock_);
            seen_ += head + hex_of(payload) + ";";
        }
        if (rewrite_) {
            const unsigned char answer[] = {0x01, 0x02};
            payload.assign(answer, 2);
        }
        return 5;
    }

    std::string seen()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return seen_;
    }

private:
    bool rewrite_;
    std::mutex lock_;
    std::string seen_;
};

struct event_case {
    const char* label;
    bool with_delegate;
    bool rewrite;
    const char* reply_line;
};

const event_case event_cases[] = {
    {"no delegate: the request's own bytes", false, false, "reply 1 id=0x02000001 payload=aabbcc"},
    {"delegate's answer", true, true, "reply 1 id=0x02000001 payload=0102"},
};

// The service posts 0x2000002 before answering resume and asks 0x2000001 before answering pause.
TEST(HelperEvents, ServiceRequestIsAnsweredAndMessageReachesTheDelegate)
{
    for (const event_case& row : event_cases) {
        SCOPED_TRACE(row.label);
        service_double service("on 0x1000007 post 0x2000002 dd\non 0x1000006 send 0x2000001 aabbcc\n");
        ASSERT_TRUE(service.installed());
        ASSERT_TRUE(service.start());
        recording_delegate delegate(row.rewrite);
        helper_ptr helper = make_helper();
        if (row.with_delegate)
            helper->set_event_delegate(&delegate);
        ASSERT_TRUE(helper->connect(2000, service.name()));
        ASSERT_TRUE(helper->resume_protection(nullptr));
        ASSERT_TRUE(helper->pause_protection(nullptr));

        const std::string log = service.log();
        EXPECT_NE(log.find(row.reply_line), std::string::npos) << log;
        if (row.with_delegate) {
            EXPECT_EQ(delegate.seen(), "0x02000002 dd;0x02000001 aabbcc;");
        }
        // The helper goes on as before.
        EXPECT_EQ(helper->connection_count(), 1u);
        EXPECT_TRUE(helper->resume_protection(nullptr));
    }
}

// A waiting request learns at its next poll that the connection went, not after the reply time-out.
TEST(HelperEvents, ServiceGoingAwayFailsTheWaitingRequest)
{
    for (const char* action : {"exit", "drop"}) {
        SCOPED_TRACE(action);
        service_double service(std::string("on 0x1000006 delay 300 ") + action + "\n");
        ASSERT_TRUE(service.installed());
        ASSERT_TRUE(service.start());
        helper_ptr helper = make_helper();
        ASSERT_TRUE(helper->connect(2000, service.name()));
        captured_mcl_log log;
        request_result result{7, "unchanged"};
        const auto started = std::chrono::steady_clock::now();
        EXPECT_FALSE(helper->pause_protection(&result));
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_LT(took, std::chrono::milliseconds(2000));
        EXPECT_EQ(result.message, "unchanged");
        EXPECT_TRUE(log.contains("IPC connection has been terminated when waiting for response for message [16777222]"));
    }
}

} // namespace
