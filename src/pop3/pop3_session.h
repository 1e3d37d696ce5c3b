#pragma once

#include <QByteArray>
#include <QString>

#include "net/connection.h"
#include "pop3/reply_assembler.h"

namespace ostrel {

class EventLog;

// POP3 is spoken on this port unless the server field names another, and
// over TLS from the first byte on the other one.
inline constexpr quint16 kPop3Port = 110;
inline constexpr quint16 kPop3TlsPort = 995;

// The POP3 line dialogue over one connection: the greeting, `sendMsg` and
// the pipelined commands, each reply gathered by the reply assembler. Every
// wait is the connection's, with its reply time-out.
class Pop3Session {
public:
    Pop3Session(EventLog& log, int reply_timeout_ms);

    Connection& connection() { return connection_; }
    const Connection& connection() const { return connection_; }

    // Connects to `server` (see Connection::connect_to; port 110 unless it
    // names another) unless the connection is in use.
    void connect_to(const QString& server);
    void close() { connection_.close(); }

    // The greeting wait: until the first reply after connecting is complete.
    // A refused connection, a name that does not resolve or a refused secure
    // connection ends it at once as NotConnected.
    [[nodiscard]] WaitResult wait_greeting();
    // Sends `m` and CR LF as one write and waits for its reply. Leftovers of
    // an earlier reply are dropped first. Anything but Answered leaves the
    // stream untrustworthy: the caller must close the connection.
    [[nodiscard]] WaitResult sendMsg(const QString& m);
    // After the server's "+OK" to STLS: the TLS handshake (see
    // Connection::start_tls), the replies gathered so far dropped.
    [[nodiscard]] WaitResult start_tls();
    const QString& send_failure() const { return connection_.send_failure(); }
    // Some bytes arrived since the latest command (or the connection) began.
    bool heard_since_command() const { return heard_; }

    // Pipelined commands, for a server that offers PIPELINING: begin_pipeline
    // drops leftovers of earlier replies; send_ahead writes command lines
    // (each ended by CR LF) without waiting, and is Answered once they are
    // written; wait_next_reply takes the replies in order, each one starting
    // with the bytes that came after the one before (see ReplyAssembler for
    // how to tell that they are out of step with the commands). Each wait has
    // the full reply time-out, so a stream that keeps delivering replies
    // never times out, and one that stops for that long does. Writing never
    // waits: the connection sends what the server takes while the waits read
    // its replies, so neither side can block the other.
    void begin_pipeline();
    [[nodiscard]] WaitResult send_ahead(const QByteArray& lines);
    [[nodiscard]] WaitResult wait_next_reply();

    void set_reply_mode(ReplyMode mode) { reply_.set_mode(mode); }
    void set_reply_cap(qsizetype cap) { reply_.set_cap(cap); }
    const ReplyAssembler& reply() const { return reply_; }

private:
    [[nodiscard]] WaitResult wait_reply();

    Connection connection_;
    ReplyAssembler reply_;
    bool heard_ = false;
};

}  // namespace ostrel
