#pragma once

#include <QByteArray>
#include <QString>

namespace ostrel {

// How the reply to the command in progress ends: a single-line reply at its
// first CR LF, a header block ("TOP") at its end-of-block mark LF "." CR LF.
enum class ReplyMode { SingleLine, Top };

// Gathers what the server sends into the reply to the latest command. Bytes
// are taken as Latin-1 text, which keeps every byte. Memory stays bounded:
// a reply that grows past the cap without completing is abandoned, and bytes
// that arrive after a reply is complete are dropped.
class ReplyAssembler {
public:
    static constexpr qsizetype kDefaultCap = 1024 * 1024;

    explicit ReplyAssembler(qsizetype cap = kDefaultCap) : cap_(cap) {}

    void set_mode(ReplyMode mode) { mode_ = mode; }
    ReplyMode mode() const { return mode_; }

    // A new command was sent: forget whatever was gathered before it.
    void begin_reply();
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
    void arrive_single_line();
    void arrive_top(qsizetype searched_from);
    void complete(const QByteArray& text, bool err);

    qsizetype cap_;
    ReplyMode mode_ = ReplyMode::SingleLine;
    QByteArray buffer_;
    QString text_;
    bool done_ = false;
    bool err_ = false;
    bool overflowed_ = false;
};

}  // namespace ostrel
