#include "imap/response_reader.h"

#include "imap/response_parser.h"

namespace ostrel::imap {

void ResponseReader::arrive(QByteArrayView bytes) {
    if (over_cap_ || bytes.isEmpty()) {
        return;
    }
    buffer_.append(bytes);
    frame();
}

std::optional<Response> ResponseReader::take() {
    if (ends_.isEmpty()) {
        return std::nullopt;
    }
    const qsizetype end = ends_.takeFirst();
    Response response = parse_response(QByteArrayView(buffer_).sliced(start_, end - start_));
    start_ = end;
    // Taken bytes are let go once they are most of the buffer, so that many
    // responses in one arrival cost linear time.
    if (start_ > buffer_.size() / 2) {
        buffer_.remove(0, start_);
        for (qsizetype* at : {&response_, &line_, &scanned_}) {
            *at -= start_;
        }
        for (qsizetype& at : ends_) {
            at -= start_;
        }
        if (literal_end_ >= 0) {
            literal_end_ -= start_;
        }
        start_ = 0;
    }
    return response;
}

// Finds the ends of the responses that are whole. A response's size is
// checked against the cap however the bytes were split, so the same bytes
// give the same responses and the same over-cap point.
void ResponseReader::frame() {
    while (!over_cap_) {
        if (literal_end_ >= 0) {
            if (buffer_.size() < literal_end_) {
                return;
            }
            line_ = scanned_ = literal_end_;
            literal_end_ = -1;
        }
        const qsizetype cr_lf = buffer_.indexOf("\r\n", scanned_);
        const qsizetype end = cr_lf < 0 ? buffer_.size() : cr_lf + 2;
        if (end - response_ > limits_.response) {
            stop_over_cap();
            return;
        }
        if (cr_lf < 0) {
            // A CR at the end may be the first half of the line end.
            scanned_ = qMax(line_, buffer_.size() - 1);
            return;
        }
        if (!line_announces_literal(cr_lf)) {
            ends_ << end;
            response_ = line_ = scanned_ = end;
        }
    }
}

// When the line [line_, line_end) ends with "{n}" or "{n+}", notes where the
// literal after its CR LF ends, or stops when the literal is over a cap.
bool ResponseReader::line_announces_literal(qsizetype line_end) {
    const QByteArrayView line = QByteArrayView(buffer_).sliced(line_, line_end - line_);
    if (!line.endsWith('}')) {
        return false;
    }
    const qsizetype open = line.lastIndexOf('{');
    QByteArrayView digits = line.sliced(open + 1, line.size() - open - 2);
    if (open < 0 || digits.isEmpty()) {
        return false;
    }
    if (digits.endsWith('+')) {
        digits.chop(1);
    }
    qint64 size = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return false;
        }
        size = qMin<qint64>(size * 10 + (c - '0'), qint64(limits_.response) + 1);
    }
    if (digits.isEmpty()) {
        return false;
    }
    literal_end_ = line_end + 2 + size;
    if (size > limits_.literal || literal_end_ - response_ > limits_.response) {
        stop_over_cap();
    }
    return true;
}

// Whatever came after the last whole response is let go; nothing more is read.
void ResponseReader::stop_over_cap() {
    over_cap_ = true;
    const qsizetype keep = ends_.isEmpty() ? start_ : ends_.last();
    buffer_.truncate(keep);
    buffer_.squeeze();
}

}  // namespace ostrel::imap
