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
    body_ = -1;
    cut_head_.clear();
    cutting_ = false;
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
    } else if (cutting_) {
        skip_cut_block();
    } else {
        take_top();
    }
}

bool ReplyAssembler::begins_with_status(bool* err) const {
    const QByteArrayView reply = QByteArrayView(buffer_).sliced(start_);
    *err = reply.startsWith("-ER");
    return *err || reply.startsWith("+OK");
}

// The reply is one line; a line longer than the cap, with its CR LF, is
// abandoned whether or not its end has arrived.
void ReplyAssembler::take_single_line() {
    const qsizetype end = buffer_.indexOf(kLineEnd, qMax(start_, scanned_));
    if (end < 0) {
        if (buffer_.size() - start_ > cap_) {
            overflow();
        } else {
            scanned_ = qMax(start_, buffer_.size() - (kLineEnd.size() - 1));
        }
        return;
    }
    const qsizetype reply_end = end + kLineEnd.size();
    if (reply_end - start_ > cap_) {
        overflow();
        return;
    }
    well_framed_ = begins_with_status(&err_);
    cut_ = false;
    complete(start_, reply_end, reply_end);
}

// The status line decides first: "-ER" ends the reply at its CR LF, since an
// error carries no block. Otherwise the block ends at the end-of-block mark;
// one that grows past the cap first is cut and skipped to its mark.
void ReplyAssembler::take_top() {
    if (body_ < 0) {
        const qsizetype end = buffer_.indexOf(kLineEnd, qMax(start_, scanned_));
        if (end < 0 || end + kLineEnd.size() - start_ > cap_) {
            take_single_line();
            return;
        }
        well_framed_ = begins_with_status(&err_);
        if (err_) {
            cut_ = false;
            complete(start_, end + kLineEnd.size(), end + kLineEnd.size());
            return;
        }
        body_ = end + kLineEnd.size();
        scanned_ = end;
    }
    const qsizetype mark = buffer_.indexOf(kEndOfBlock, scanned_);
    if (mark >= 0) {
        complete_block(body_, mark);
    } else if (buffer_.size() - body_ > cap_) {
        cut_head_ = buffer_.mid(body_, cap_);
        cutting_ = true;
        skip_cut_block();
    } else {
        scanned_ = qMax(scanned_, buffer_.size() - (kEndOfBlock.size() - 1));
    }
}

// Only the bytes where the mark may still begin are kept, with the one
// before them that tells whether the mark follows a CR.
void ReplyAssembler::skip_cut_block() {
    const qsizetype mark = buffer_.indexOf(kEndOfBlock, scanned_);
    if (mark >= 0) {
        well_framed_ = well_framed_ && mark > 0 && buffer_[mark - 1] == '\r';
        text_ = QString::fromLatin1(cut_head_);
        cut_head_.clear();
        cutting_ = false;
        cut_ = true;
        done_ = true;
        start_ = mark + kEndOfBlock.size();
        scanned_ = start_;
        body_ = -1;
        return;
    }
    buffer_ = buffer_.right(kEndOfBlock.size());
    start_ = 0;
    scanned_ = qMax<qsizetype>(0, buffer_.size() - (kEndOfBlock.size() - 1));
}

// The block is [body, mark + the mark's size), cut to the cap when longer.
void ReplyAssembler::complete_block(qsizetype body, qsizetype mark) {
    const qsizetype reply_end = mark + kEndOfBlock.size();
    well_framed_ = well_framed_ && buffer_[mark - 1] == '\r';
    cut_ = reply_end - body > cap_;
    complete(body, cut_ ? body + cap_ : reply_end, reply_end);
}

// The reply text is [text_start, text_end); the next reply begins at reply_end.
void ReplyAssembler::complete(qsizetype text_start, qsizetype text_end, qsizetype reply_end) {
    text_ = QString::fromLatin1(QByteArrayView(buffer_).sliced(text_start, text_end - text_start));
    done_ = true;
    start_ = reply_end;
    scanned_ = reply_end;
    body_ = -1;
}

void ReplyAssembler::overflow() {
    overflowed_ = true;
    buffer_.clear();
    buffer_.squeeze();
    cut_head_.clear();
    cutting_ = false;
    start_ = 0;
    scanned_ = 0;
    body_ = -1;
}

}  // namespace ostrel
