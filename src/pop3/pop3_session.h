#pragma once

#include <QObject>
#include <QString>

#include "pop3/reply_assembler.h"

class QEventLoop;
class QTcpSocket;

namespace ostrel {

class Form1;

// How a wait for a reply ended.
enum class WaitResult {
    Answered,    // complete, timed out (counts as answered) or abandoned past the cap
    SendFailed,  // the command could not be sent; logged, no wait took place
    Ending,      // the program is ending: the check must stop at once
};

// The dialogue with one server over the main window's socket: the connection,
// `sendMsg`, the socket's events and the waits. A wait sleeps in a nested
// event loop until a reply completes, the reply time-out `Timer3` sets
// `timed_out`, or a reply is abandoned; window events keep running meanwhile.
class Pop3Session : public QObject {
    Q_OBJECT
public:
    explicit Pop3Session(Form1& form);
    ~Pop3Session() override;

    // Connects to `server` ("host", "host:port" or "[v6]:port") unless the
    // socket is already in use. This is the one place a connection is made.
    void connect_to(const QString& server);
    bool is_closed() const;
    void close();

    // The greeting wait: until the first reply after connecting is complete.
    WaitResult wait_greeting();
    // Sends `m` and CR LF as one write and waits for its reply. Leftovers of
    // an earlier reply are dropped first.
    WaitResult sendMsg(const QString& m);

    void set_reply_mode(ReplyMode mode) { reply_.set_mode(mode); }
    const ReplyAssembler& reply() const { return reply_; }

private:
    void data_arrival();
    void server_closed();
    void socket_error();
    WaitResult wait_reply();
    void wake();

    Form1& form_;
    QTcpSocket* socket_;
    ReplyAssembler reply_;
    QEventLoop* wait_loop_ = nullptr;
    bool woken_ = false;
};

}  // namespace ostrel
