#include "pop3/pop3_session.h"

namespace ostrel {

Pop3Session::Pop3Session(EventLog& log, int reply_timeout_ms) : connection_(log, reply_timeout_ms) {
    connection_.set_tls_settings({kPop3TlsPort, {}});
    connection_.set_receiver([this](const QByteArray& bytes) {
        heard_ = heard_ || !bytes.isEmpty();
        reply_.arrive(bytes);
        return reply_.reply_done() || reply_.overflowed();
    });
}

void Pop3Session::connect_to(const QString& server) {
    if (!connection_.is_closed()) {
        return;
    }
    reply_.set_mode(ReplyMode::SingleLine);
    reply_.begin_reply();
    heard_ = false;
    connection_.connect_to(server, kPop3Port);
}

WaitResult Pop3Session::wait_greeting() {
    const WaitResult secured = connection_.wait_secured();
    if (secured != WaitResult::Answered) {
        return secured;
    }
    const WaitResult result = wait_reply();
    if (result == WaitResult::Ending) {
        return result;
    }
    return connection_.refused() || result == WaitResult::Closed ? WaitResult::NotConnected
                                                                 : result;
}

WaitResult Pop3Session::sendMsg(const QString& m) {
    connection_.drop_unread();
    reply_.begin_reply();
    heard_ = false;
    const WaitResult sent = connection_.send(m.toUtf8() + "\r\n");
    return sent == WaitResult::Answered ? wait_reply() : sent;
}

WaitResult Pop3Session::start_tls() {
    reply_.begin_reply();
    const WaitResult result = connection_.start_tls();
    reply_.begin_reply();
    return result;
}

void Pop3Session::begin_pipeline() {
    connection_.drop_unread();
    reply_.begin_reply();
}

WaitResult Pop3Session::send_ahead(const QByteArray& lines) {
    return connection_.send(lines);
}

// A reply that had arrived whole with the one before it costs no wait.
WaitResult Pop3Session::wait_next_reply() {
    reply_.next_reply();
    return reply_.reply_done() ? WaitResult::Answered : wait_reply();
}

WaitResult Pop3Session::wait_reply() {
    const WaitResult result =
        connection_.wait_until([this] { return reply_.reply_done() || reply_.overflowed(); });
    if (result != WaitResult::Answered || reply_.reply_done()) {
        return result;
    }
    return WaitResult::Overflowed;
}

}  // namespace ostrel
