#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <optional>

#include "imap/response.h"

namespace ostrel::imap {

// Cuts the bytes a server sends, as they arrive in pieces, into whole
// responses and reads each. A response is a line ended by CR LF, or several
// when a line ends with a literal's announcement "{n}" (or "{n+}"): the next
// n bytes are the literal's, whatever they hold. Memory stays bounded: a
// literal announced larger than its cap, or a response that grows past its
// cap, stops the reading for good (over_cap), since the stream can no longer
// be followed.
class ResponseReader {
public:
    struct Limits {
        qsizetype literal = 256 * 1024;
        qsizetype response = 1024 * 1024;
    };

    ResponseReader() : ResponseReader(Limits{}) {}
    explicit ResponseReader(Limits limits) : limits_(limits) {}

    // A large mailbox's SEARCH response may be allowed more than others;
    // the new caps count for responses not yet framed whole.
    void set_limits(Limits limits) { limits_ = limits; }
    const Limits& limits() const { return limits_; }

    void arrive(QByteArrayView bytes);
    // A whole response waits to be taken, or the reading stopped over a cap.
    bool has_response() const { return !ends_.isEmpty() || over_cap_; }
    // The next whole response, in the order they came; none while the next
    // one is still incomplete or after an over-cap response.
    [[nodiscard]] std::optional<Response> take();
    // A response went past a cap; the responses complete before it can
    // still be taken.
    bool over_cap() const { return over_cap_ && ends_.isEmpty(); }
    // Bytes arrived beyond the responses taken (after STARTTLS's reply, such
    // bytes were sent in clear and must not be read as protected ones).
    bool holds_unread() const { return buffer_.size() > start_ || over_cap_; }

private:
    void frame();
    bool line_announces_literal(qsizetype line_end);
    void stop_over_cap();

    Limits limits_;
    QByteArray buffer_;
    qsizetype start_ = 0;         // the first byte not taken
    QList<qsizetype> ends_;       // ends of the whole responses not yet taken
    qsizetype response_ = 0;      // start of the response being framed
    qsizetype line_ = 0;          // start of its current line
    qsizetype scanned_ = 0;       // no line end before this
    qsizetype literal_end_ = -1;  // end of the literal being received
    bool over_cap_ = false;
};

}  // namespace ostrel::imap
