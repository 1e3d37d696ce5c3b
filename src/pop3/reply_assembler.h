#pragma once

#include <QByteArray>
#include <QString>

namespace ostrel {

// How the reply to the command in progress ends: a single-line reply at its
// first CR LF, a multi-line reply ("TOP", also CAPA, UIDL and LIST) at its
// end-of-block mark LF "." CR LF, or at the CR LF of a "-ER" status line.
enum class ReplyMode { SingleLine, Top };

// Gathers what the server sends into the reply to the latest command. Bytes
// are taken as Latin-1 text, which keeps every byte. Memory stays bounded,
// and a reply is taken alike however its bytes are split into arrivals: a
// line (a single-line reply, or a status line) longer than the cap is
// abandoned; a block longer than the cap is cut to its first `cap` bytes and
// the rest skipped to its end-of-block mark, so that it costs that reply
// alone. Bytes that arrive after a reply is complete are kept for the next
// reply of a pipelined exchange (next_reply), and dropped when a command
// begins a reply of its own (begin_reply).
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
    // A line grew past the cap without ending.
    bool overflowed() const { return overflowed_; }
    // The latest complete reply: a single line with its CR LF, or a header
    // block without its status line, ending with the end-of-block mark (a
    // block cut to the cap ends where it was cut).
    const QString& reply_text() const { return text_; }
    // The latest complete reply began with "-ER".
    bool reply_err() const { return err_; }
    // The latest complete reply is a whole header block answering a TOP.
    bool has_block() const { return done_ && mode_ == ReplyMode::Top && !err_; }
    // The latest complete reply was a block longer than the cap, cut.
    bool cut() const { return cut_; }
    // The latest complete reply is framed as a reply to a command must be: it
    // begins with a status ("+OK" or "-ER"), and a block ends with CR LF "."
    // CR LF. In a pipelined exchange anything else means that the replies
    // are out of step with the commands: a reply was doubled, or a block
    // ended early at a bare LF "." CR LF that the server did not dot-stuff.
    bool well_framed() const { return well_framed_; }
    // Bytes arrived after the latest complete reply.
    bool has_leftovers() const { return done_ && buffer_.size() > start_; }

private:
    void take();
    void take_single_line();
    void take_top();
    void skip_cut_block();
    bool begins_with_status(bool* err) const;
    void complete(qsizetype text_start, qsizetype text_end, qsizetype reply_end);
    void complete_block(qsizetype body, qsizetype mark);
    void overflow();

    qsizetype cap_;
    ReplyMode mode_ = ReplyMode::SingleLine;
    // The reply in progress starts at `start_`; whatever is before it was
    // taken. The line end or end-of-block mark cannot begin before `scanned_`.
    QByteArray buffer_;
    qsizetype start_ = 0;
    qsizetype scanned_ = 0;
    // Where the block in progress begins after its status line; -1 before.
    qsizetype body_ = -1;
    // While a block past the cap is skipped: its first `cap` bytes. The
    // buffer then keeps only the bytes where its mark may still begin.
    QByteArray cut_head_;
    bool cutting_ = false;
    QString text_;
    bool done_ = false;
    bool err_ = false;
    bool cut_ = false;
    bool well_framed_ = false;
    bool overflowed_ = false;
};

}  // namespace ostrel
