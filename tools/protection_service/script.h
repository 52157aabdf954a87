// The double's script: what it answers per message id, the version reply per connection, and the objects it
// protects from the start (format in README.md). Pure logic.
#pragma once

#include "hex.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace protection_double {

enum class answer_kind {
    payload,  // reply with `reply` (a `result` line is encoded into it)
    none,     // no reply
    drop,     // close the connection without a reply
    exit,     // end the process at once
};

struct answer {
    answer_kind kind = answer_kind::payload;
    std::uint32_t delay_ms = 0;
    bytes reply;
};

// A frame the double sends to the client before it answers: a request (kind 0) or a one-way message.
struct outgoing {
    bool one_way = false;
    std::uint32_t id = 0;
    bytes payload;
};

struct id_script {
    bool has_answer = false;  // false: the model answers
    answer reply;
    std::vector<outgoing> before;
};

struct version_reply {
    std::uint8_t compatible = 1;
    std::uint32_t version = 5;
};

struct initial_service {
    std::string name;
    std::string sid;
};

struct initial_key {
    std::uint64_t root = 0;
    std::u16string subkey;
};

struct script_error {
    unsigned line = 0;
    std::string text;
};

struct script {
    version_reply version;
    std::map<unsigned, version_reply> version_for;  // by connection number
    std::map<std::uint32_t, id_script> on;
    std::vector<initial_service> services;
    std::vector<initial_key> keys;
    std::vector<script_error> errors;  // lines that were ignored, and why

    version_reply version_of(unsigned connection) const;
    // Null when the script says nothing about `id`.
    const id_script* find(std::uint32_t id) const;
};

constexpr const char* default_service_sid = "S-1-5-80-0";

// Never fails: a bad line is skipped and recorded in `errors`.
script parse_script(std::string_view text);

// Registry root value of HKCR, HKCC, HKCU, HKLM or HKU; false for any other name.
bool root_from_name(std::string_view name, std::uint64_t& root);

} // namespace protection_double
