// What the client helper tests share: the protection-service double installed as a real service under a
// name of this test process, its script and frame log, and helpers that are released however a test ends.
#pragma once

#include "helper/ovchelper.h"
#include "helper/unique_helper.h"
#include "mcl/mswin/unique_resource.h"
#include "captured_mcl_log.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace helpertest {

using fltest::captured_mcl_log;
using fltest::eventually;

using helper_ptr = unique_helper<ovchelper>;

// A new unconnected helper, made the way callers make it.
helper_ptr make_helper();

// The double as an installed, demand-start service; uninstalled on destruction.
class service_double {
public:
    explicit service_double(const std::string& script);
    ~service_double();
    service_double(const service_double&) = delete;
    service_double& operator=(const service_double&) = delete;

    bool installed() const { return installed_; }
    const std::string& name() const { return name_; }
    // Answer directives are read again at each new connection.
    void rewrite_script(const std::string& script);
    const std::string& script_path() const { return script_path_; }
    bool start();
    bool stop();
    std::vector<std::string> log_lines();
    std::string log();
    // "kind=K id=0xIIIIIIII payload=HEX" of every frame the double received, in order (sequence left out).
    std::vector<std::string> frames();
    // Frames the double received with this id.
    std::size_t count_frames(std::uint32_t id);

private:
    fltest::temp_folder folder_;
    std::string name_;
    std::string script_path_;
    std::string log_path_;
    bool installed_ = false;
};

// Our plain test service, installed under a name of this process and running, but listening on no pipe.
class silent_service {
public:
    silent_service();
    ~silent_service();
    silent_service(const silent_service&) = delete;
    silent_service& operator=(const silent_service&) = delete;
    bool running() const { return running_; }
    const std::string& name() const { return name_; }

private:
    std::string name_;
    mcl::mswin::unique_schandle manager_;
    mcl::mswin::unique_schandle service_;
    bool running_ = false;
};

// A helper connected to a started double with its protocol version known (5 unless the script says other).
class connected_helper : public ::testing::Test {
protected:
    explicit connected_helper(const std::string& script = "");
    void SetUp() override;

    service_double service;
    helper_ptr helper;
};

std::string frame_text(std::uint32_t kind, std::uint32_t id, const std::string& payload_hex);

} // namespace helpertest
