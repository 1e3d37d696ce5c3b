#include "pop3/reply_assembler.h"

namespace ostrel {

namespace {

const QByteArray kLineEnd("\r\n");
const QByteArray kEndOfBlock("\n.\r\n");

}  // namespace

void ReplyAssembler::begin_reply() {
    buffer_.clear();
    start_ = 0;
    scanned_ = 0;
    done_ = false;
    overflowed_ = false;
}

void ReplyAssembler::next_reply() {
    if (overflowed_) {
        return;
    }
    done_ = false;
    // Taken bytes are let go once they are most of the buffer, so that many
    // replies in one arrival cost linear time.
    if (start_ > buffer_.size() / 2) {
        buffer_.remove(0, start_);
        start_ = 0;
    }
    scanned_ = start_;
    take();
}

void ReplyAssembler::arrive(const QByteArray& data) {
    if (overflowed_ || data.isEmpty()) {
        return;
    }
    buffer_ += data;
    if (!done_) {
        take();
    }
}

void ReplyAssembler::take() {
    if (mode_ == ReplyMode::SingleLine) {
        take_single_line();
    } else {
        take_top();
    }
    if (done_) {
        return;
    }
    if (buffer_.size() - start_ > cap_) {
        overflowed_ = true;
        buffer_.clear();
        buffer_.squeeze();
        start_ = 0;
        scanned_ = 0;
    } else {
        scanned_ = qMax(start_, buffer_.size() - (kEndOfBlock.size() - 1));
    }
}

bool ReplyAssembler::begins_with_error() const {
    return QByteArrayView(buffer_).sliced(start_).startsWith("-ER");
}

void ReplyAssembler::take_single_line() {
    const qsizetype end = buffer_.indexOf(kLineEnd, start_);
    if (end >= 0) {
        const qsizetype reply_end = end + kLineEnd.size();
        complete(start_, reply_end, reply_end, begins_with_error());
    }
}

// The status line decides first: "-ER" ends the reply at its CR LF, since an
// error carries no block. Otherwise the block ends at the end-of-block mark.
void ReplyAssembler::take_top() {
    const qsizetype status_end = buffer_.indexOf(kLineEnd, start_);
    if (status_end < 0) {
        return;
    }
    const qsizetype body = status_end + kLineEnd.size();
    if (begins_with_error()) {
        complete(start_, body, body, true);
        return;
    }
    const qsizetype mark = buffer_.indexOf(kEndOfBlock, qMax(scanned_, status_end));
    if (mark >= 0) {
        const qsizetype reply_end = mark + kEndOfBlock.size();
        complete(body, reply_end, reply_end, false);
    }
}

// The reply text is [text_start, text_end); the next reply begins at reply_end.
void ReplyAssembler::complete(qsizetype text_start, qsizetype text_end, qsizetype reply_end,
                              bool err) {
    text_ = QString::fromLatin1(QByteArrayView(buffer_).sliced(text_start, text_end - text_start));
    err_ = err;
    done_ = true;
    start_ = reply_end;
    scanned_ = reply_end;
}

}  // namespace ostrel
