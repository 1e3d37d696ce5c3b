#pragma once

#include <QByteArray>
#include <QString>

namespace ostrel {

// How the reply to the command in progress ends: a single-line reply at its
// first CR LF, a multi-line reply ("TOP", also CAPA and UIDL) at its
// end-of-block mark LF "." CR LF, or at the CR LF of a "-ER" status line.
enum class ReplyMode { SingleLine, Top };

// Gathers what the server sends into the reply to the latest command. Bytes
// are taken as Latin-1 text, which keeps every byte. Memory stays bounded:
// a reply that grows past the cap without completing is abandoned. Bytes
// that arrive after a reply is complete are kept for the next reply of a
// pipelined exchange (next_reply), and dropped when a command begins a
// reply of its own (begin_reply).
class ReplyAssembler {
public:
    static constexpr qsizetype kDefaultCap = 1024 * 1024;

    explicit ReplyAssembler(qsizetype cap = kDefaultCap) : cap_(cap) {}

    void set_mode(ReplyMode mode) { mode_ = mode; }
    ReplyMode mode() const { return mode_; }
    // The cap for the replies from now on.
    void set_cap(qsizetype cap) { cap_ = cap; }
    qsizetype cap() const { return cap_; }

    // A new command was sent: forget whatever was gathered before it.
    void begin_reply();
    // The next reply of a pipelined exchange: it begins with the bytes that
    // came after the previous complete reply, and may be complete at once.
    // After an abandoned reply nothing more is taken.
    void next_reply();
    void arrive(const QByteArray& data);

    // The reply is complete (and not abandoned).
    bool reply_done() const { return done_; }
    // The reply grew past the cap without completing.
    bool overflowed() const { return overflowed_; }
    // The latest complete reply: a single line with its CR LF, or a header
    // block without its status line, ending with the end-of-block mark.
    const QString& reply_text() const { return text_; }
    // The latest complete reply began with "-ER".
    bool reply_err() const { return err_; }
    // The latest complete reply is a whole header block answering a TOP.
    bool has_block() const { return done_ && mode_ == ReplyMode::Top && !err_; }

private:
    void take();
    void take_single_line();
    void take_top();
    bool begins_with_error() const;
    void complete(qsizetype text_start, qsizetype text_end, qsizetype reply_end, bool err);

    qsizetype cap_;
    ReplyMode mode_ = ReplyMode::SingleLine;
    // The reply in progress starts at `start_`; whatever is before it was
    // taken. The end-of-block mark cannot end before `scanned_`.
    QByteArray buffer_;
    qsizetype start_ = 0;
    qsizetype scanned_ = 0;
    QString text_;
    bool done_ = false;
    bool err_ = false;
    bool overflowed_ = false;
};

}  // namespace ostrel
