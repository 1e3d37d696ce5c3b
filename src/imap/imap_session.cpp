#include "imap/imap_session.h"

#include <utility>

#include "imap/dialogue.h"
#include "mail/mailbox_address.h"

namespace ostrel::imap {

ImapSession::ImapSession(EventLog& log, int reply_timeout_ms) : connection_(log, reply_timeout_ms) {
    connection_.set_receiver([this](const QByteArray& bytes) {
        reader_.arrive(bytes);
        return reader_.has_response();
    });
}

void ImapSession::connect_to(const QString& server, const MailboxAddress& address,
                             const QList<QSslCertificate>& extra_authorities) {
    if (!connection_.is_closed()) {
        return;
    }
    reader_ = ResponseReader();
    next_tag_ = 1;
    completed_.reset();
    problem_.clear();
    // The connection speaks TLS from the first byte on its TLS port.
    connection_.set_tls_settings(
        {address.implicit_tls ? address.port : quint16(0), extra_authorities});
    connection_.connect_to(server, ServerAddress{address.host, address.port});
}

void ImapSession::log_out_and_close() {
    if (!connection_.is_closed() && problem_.isEmpty()) {
        // Courtesy only: the connection closes whatever happens to it.
        static_cast<void>(connection_.send(next_tag() + " LOGOUT\r\n"));
    }
    connection_.close();
}

WaitResult ImapSession::wait_greeting(Response* greeting) {
    const WaitResult secured = connection_.wait_secured();
    if (secured != WaitResult::Answered) {
        return secured;
    }
    std::optional<Response> first;
    const WaitResult result = connection_.wait_until([&] {
        if (!first) {
            first = reader_.take();
        }
        return first || reader_.over_cap();
    });
    if (result == WaitResult::Ending) {
        return result;
    }
    if (connection_.refused() || result == WaitResult::Closed) {
        return WaitResult::NotConnected;
    }
    if (result == WaitResult::Answered && !first) {
        return WaitResult::Overflowed;
    }
    if (first) {
        *greeting = *first;
    }
    return result;
}

QByteArray ImapSession::next_tag() {
    return 'a' + QByteArray::number(next_tag_++);
}

WaitResult ImapSession::send(const Command& command, bool literal_plus) {
    const QByteArrayList pieces = command.pieces(literal_plus);
    if (pieces.isEmpty()) {
        return WaitResult::SendFailed;
    }
    const QByteArray tag = pieces.first().left(pieces.first().indexOf(' '));
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        const WaitResult sent = connection_.send(pieces[i]);
        if (sent != WaitResult::Answered || i + 1 == pieces.size()) {
            return sent;
        }
        continued_ = false;
        const WaitResult result = connection_.wait_until([&] { return take_until(tag, true, {}); });
        if (result != WaitResult::Answered) {
            return result;
        }
        if (reader_.over_cap() && !continued_ && !completed_) {
            return WaitResult::Overflowed;
        }
        if (!problem_.isEmpty()) {
            return WaitResult::Closed;
        }
        if (completed_) {
            return WaitResult::Answered;
        }
    }
    return WaitResult::Answered;
}

WaitResult ImapSession::complete(const QByteArray& tag, Response* done, const Untagged& untagged) {
    continued_ = false;
    if (completed_ && completed_->tag == tag) {
        *done = *std::exchange(completed_, std::nullopt);
        return WaitResult::Answered;
    }
    const WaitResult result =
        connection_.wait_until([&] { return take_until(tag, false, untagged); });
    if (result != WaitResult::Answered) {
        return result;
    }
    if (!problem_.isEmpty()) {
        return WaitResult::Closed;
    }
    if (!completed_) {
        return WaitResult::Overflowed;
    }
    *done = *std::exchange(completed_, std::nullopt);
    return WaitResult::Answered;
}

WaitResult ImapSession::exchange(const QByteArray& tag, const QByteArray& line, Response* done,
                                 std::optional<QByteArray>* challenge) {
    continued_ = false;
    challenge->reset();
    const WaitResult sent = connection_.send(line);
    if (sent != WaitResult::Answered) {
        return sent;
    }
    const WaitResult result = connection_.wait_until([&] { return take_until(tag, true, {}); });
    if (result != WaitResult::Answered) {
        return result;
    }
    if (!problem_.isEmpty()) {
        return WaitResult::Closed;
    }
    if (completed_) {
        *done = *std::exchange(completed_, std::nullopt);
        return WaitResult::Answered;
    }
    if (continued_) {
        *challenge = continuation_text_;
        return WaitResult::Answered;
    }
    return WaitResult::Overflowed;
}

// Takes responses until the one a wait is for: the tagged one of `tag`, or
// with `continuation` also the server's "+". True when the wait may end.
bool ImapSession::take_until(const QByteArray& tag, bool continuation, const Untagged& untagged) {
    while (!completed_ && !continued_ && problem_.isEmpty()) {
        const std::optional<Response> response = reader_.take();
        if (!response) {
            return reader_.over_cap();
        }
        switch (response->kind) {
            case Response::Kind::Malformed:
                problem_ = QStringLiteral("the server sent a response that cannot be read (%1)")
                               .arg(QString::fromLatin1(response->text));
                break;
            case Response::Kind::Tagged:
                if (response->tag != tag) {
                    problem_ = QStringLiteral("the server completed a command it was not given");
                } else {
                    completed_ = response;
                }
                break;
            case Response::Kind::Continuation:
                continued_ = continuation;
                continuation_text_ = response->text;
                break;
            case Response::Kind::Untagged:
                if (response->condition == Condition::Bye) {
                    problem_ = QStringLiteral("the server ended the session (%1)")
                                   .arg(shown_status(*response));
                } else if (untagged) {
                    untagged(*response);
                }
                break;
        }
    }
    return true;
}

WaitResult ImapSession::start_tls() {
    const WaitResult result = connection_.start_tls();
    reader_ = ResponseReader(reader_.limits());
    return result;
}

void ImapSession::set_response_cap(qsizetype cap) {
    reader_.set_limits({reader_.limits().literal, cap});
}

}  // namespace ostrel::imap
