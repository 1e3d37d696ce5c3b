#include "pop3/reply_assembler.h"

namespace ostrel {

namespace {

const QByteArray kLineEnd("\r\n");
const QByteArray kEndOfBlock("\n.\r\n");

bool begins_with_error(const QByteArray& text) {
    return text.startsWith("-ER");
}

}  // namespace

void ReplyAssembler::begin_reply() {
    buffer_.clear();
    done_ = false;
    overflowed_ = false;
}

void ReplyAssembler::arrive(const QByteArray& data) {
    if (done_ || overflowed_ || data.isEmpty()) {
        return;
    }
    const qsizetype searched_from = qMax<qsizetype>(0, buffer_.size() - (kEndOfBlock.size() - 1));
    buffer_ += data;
    if (mode_ == ReplyMode::SingleLine) {
        arrive_single_line();
    } else {
        arrive_top(searched_from);
    }
    if (!done_ && buffer_.size() > cap_) {
        overflowed_ = true;
        buffer_.clear();
        buffer_.squeeze();
    }
}

void ReplyAssembler::arrive_single_line() {
    const qsizetype end = buffer_.indexOf(kLineEnd);
    if (end >= 0) {
        complete(buffer_.left(end + kLineEnd.size()), begins_with_error(buffer_));
    }
}

// The status line decides first: "-ER" ends the reply at its CR LF, since an
// error carries no block. Otherwise the block ends at the end-of-block mark.
void ReplyAssembler::arrive_top(qsizetype searched_from) {
    const qsizetype status_end = buffer_.indexOf(kLineEnd);
    if (status_end < 0) {
        return;
    }
    if (begins_with_error(buffer_)) {
        complete(buffer_.left(status_end + kLineEnd.size()), true);
        return;
    }
    const qsizetype mark = buffer_.indexOf(kEndOfBlock, qMax(searched_from, status_end));
    if (mark >= 0) {
        const qsizetype body = status_end + kLineEnd.size();
        complete(buffer_.mid(body, mark + kEndOfBlock.size() - body), false);
    }
}

void ReplyAssembler::complete(const QByteArray& text, bool err) {
    text_ = QString::fromLatin1(text);
    err_ = err;
    done_ = true;
    buffer_.clear();
}

}  // namespace ostrel
