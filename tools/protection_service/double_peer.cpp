#include "double_peer.h"

#include "log_format.h"

#include "mcl/frame.h"
#include "mcl/mswin/service.h"

#include <algorithm>
#include <cstdio>

namespace protection_double {

namespace {

// The exit code of `on ID exit`, as a crashing service would leave.
constexpr UINT crash_exit_code = 3;

bytes to_bytes(const mcl::binary_t& data)
{
    return bytes(data.begin(), data.end());
}

mcl::binary_t to_binary(const bytes& data)
{
    return mcl::binary_t(data.data(), static_cast<std::uint32_t>(data.size()));
}

bool read_file(const std::wstring& path, std::string& text)
{
    const mcl::mswin::unique_file file(::_wfopen(path.c_str(), L"rb"));
    if (!file)
        return false;
    char chunk[4096];
    std::size_t got = 0;
    text.clear();
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
        text.append(chunk, got);
    return std::ferror(file.get()) == 0;
}

} // namespace

std::u16string installed_binary_path(const std::string& service_name)
{
    bool exists = false;
    mcl::binary_t config;
    if (!mcl::mswin::service::query_config_w(service_name.c_str(), exists, config))
        return std::u16string();
    const QUERY_SERVICE_CONFIGW* record = mcl::mswin::service::config_record_w(config);
    if (record == nullptr || record->lpBinaryPathName == nullptr)
        return std::u16string();
    const std::wstring path(record->lpBinaryPathName);
    return std::u16string(path.begin(), path.end());
}

double_peer::double_peer(const std::string& name, std::wstring script_path, frame_log& log,
                         std::function<void()> on_listening)
    : mcl::ipc_peer(&handler_), handler_(*this), script_path_(std::move(script_path)), log_(log),
      on_listening_(std::move(on_listening)), model_(installed_binary_path)
{
    set_name(name);
    stopping_.create();
}

void double_peer::disconnect()
{
    stopping_.set();
    mcl::ipc_peer::disconnect();
}

double_peer::~double_peer()
{
    // Our overrides must not run once this object is half gone.
    disconnect();
}

std::int32_t double_peer::answering_handler::handle_message(const mcl::ipc_connection_ptr& connection,
                                                            std::uint32_t id, mcl::binary_t& payload)
{
    return owner_.reply_to(connection, id, payload);
}

script double_peer::read_script()
{
    std::string text;
    if (!read_file(script_path_, text)) {
        log_.write(script_error_line(0, "the script file cannot be read; defaults apply"));
        return script();
    }
    script parsed = parse_script(text);
    for (const script_error& error : parsed.errors)
        log_.write(script_error_line(error.line, error.text));
    return parsed;
}

void double_peer::load_model()
{
    model_.load(read_script());
}

double_peer::tracked* double_peer::find(const mcl::ipc_connection* connection)
{
    const auto found = std::find_if(tracked_.begin(), tracked_.end(),
                                    [&](const tracked& each) { return each.connection.get() == connection; });
    return found == tracked_.end() ? nullptr : &*found;
}

double_peer::tracked& double_peer::track(const mcl::ipc_connection_ptr& connection)
{
    if (tracked* known = find(connection.get()))
        return *known;
    tracked added;
    added.connection = connection;
    added.number = ++connections_seen_;
    added.answers = read_script();
    log_.write(connect_line(added.number));
    tracked_.push_back(std::move(added));
    return tracked_.back();
}

void double_peer::forget(const mcl::ipc_connection_ptr& connection)
{
    mcl::scoped_lock guard(state_lock_);
    // A pair that went before anything was seen on it counts only if a client had opened it.
    if (find(connection.get()) == nullptr && !connection->read_channel().connected())
        return;
    const unsigned number = track(connection).number;
    log_.write(disconnect_line(number));
    tracked_.erase(std::remove_if(tracked_.begin(), tracked_.end(),
                                  [&](const tracked& each) { return each.connection == connection; }),
                   tracked_.end());
}

void double_peer::connections_changed()
{
    mcl::ipc_peer::connections_changed();
    std::vector<mcl::ipc_connection_ptr> current;
    for (std::size_t i = 0;; ++i) {
        mcl::ipc_connection_ptr connection = connection_at(i);
        if (!connection)
            break;
        current.push_back(std::move(connection));
    }
    mcl::scoped_lock guard(state_lock_);
    // A connection that left goes to the event thread, behind the frames that came on it: its disconnect line
    // then follows them, and its last reference is let go there, outside the peer's locks.
    for (mcl::ipc_connection_ptr& seen : watched_) {
        if (std::find(current.begin(), current.end(), seen) == current.end())
            post_event(mcl::ipc_event{std::move(seen), mcl::binary_t(), nullptr});
    }
    // The listener prepares a new pair only after a client opened the previous one: every pair but the
    // newest has a client.
    for (std::size_t i = 0; i + 1 < current.size(); ++i)
        track(current[i]);
    watched_ = current;
    if (!current.empty() && !listening_reported_ && on_listening_) {
        listening_reported_ = true;
        on_listening_();
    }
}

std::int32_t double_peer::handle_event(const mcl::ipc_event& record)
{
    if (record.frame.size() == 0) {
        if (record.connection)
            forget(record.connection);
        return 0;
    }
    mcl::frame::header header;
    if (!mcl::frame::read_header(record.frame.data(), record.frame.size(), header))
        return 0;
    {
        mcl::scoped_lock guard(state_lock_);
        const unsigned number = track(record.connection).number;
        const mcl::binary_t payload = mcl::frame::payload_of(record.frame.data(), record.frame.size());
        log_.write(frame_line(number, header.kind, header.id, header.sequence, payload.data(), payload.size()));
    }
    mcl::ipc_peer::handle_event(record);
    // A request left unanswered on purpose must not hold up the frames queued behind it.
    return 0;
}

void double_peer::send_before(const outgoing& frame, unsigned number, const mcl::ipc_connection_ptr& connection)
{
    mcl::binary_t payload = to_binary(frame.payload);
    if (frame.one_way) {
        post(frame.id, payload, connection);
        return;
    }
    if (send(frame.id, payload, connection))
        log_.write(reply_line(number, frame.id, payload.data(), payload.size()));
    else
        log_.write(noreply_line(number, frame.id));
}

std::int32_t double_peer::act(const protection_double::answer& what, const mcl::ipc_connection_ptr& connection,
                              mcl::binary_t& payload)
{
    if (what.delay_ms != 0 && ::WaitForSingleObject(stopping_.handle(), what.delay_ms) == WAIT_OBJECT_0)
        return -1;
    switch (what.kind) {
    case answer_kind::payload:
        payload = to_binary(what.reply);
        return 0;
    case answer_kind::drop:
        remove_connection(connection);
        return -1;
    case answer_kind::exit:
        ::TerminateProcess(::GetCurrentProcess(), crash_exit_code);
        return -1;
    case answer_kind::none:
    default:
        return -1;
    }
}

std::int32_t double_peer::reply_to(const mcl::ipc_connection_ptr& connection, std::uint32_t id,
                                   mcl::binary_t& payload)
{
    id_script said;
    version_reply version;
    unsigned number = 0;
    {
        mcl::scoped_lock guard(state_lock_);
        const tracked& seen = track(connection);
        number = seen.number;
        version = seen.answers.version_of(number);
        if (const id_script* entry = seen.answers.find(id))
            said = *entry;
    }
    for (const outgoing& frame : said.before)
        send_before(frame, number, connection);
    if (said.has_answer)
        return act(said.reply, connection, payload);
    bytes reply;
    if (!model_.answer(id, to_bytes(payload), version, reply))
        return -1;
    payload = to_binary(reply);
    return 0;
}

} // namespace protection_double
