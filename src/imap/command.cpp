#include "imap/command.h"

namespace ostrel::imap {

namespace {

// A quoted string carries 7-bit text without line ends, with a backslash
// before each quote and backslash.
bool quotable(QByteArrayView value) {
    for (const char c : value) {
        if (c == '\r' || c == '\n' || uchar(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

QByteArray quoted(QByteArrayView value) {
    QByteArray text = "\"";
    for (const char c : value) {
        if (c == '"' || c == '\\') {
            text += '\\';
        }
        text += c;
    }
    return text + '"';
}

}  // namespace

Command::Command(QByteArrayView tag, QByteArrayView name) {
    raw(tag);
    raw(name);
}

Command& Command::raw(QByteArrayView text) {
    if (text.contains('\r') || text.contains('\n') || text.contains('\0')) {
        valid_ = false;
    }
    parts_ << Part{text.toByteArray()};
    return *this;
}

Command& Command::string(QByteArrayView value) {
    if (value.contains('\0')) {
        valid_ = false;
    }
    parts_ << (quotable(value) ? Part{quoted(value)} : Part{value.toByteArray(), true});
    return *this;
}

QByteArrayList Command::pieces(bool non_synchronizing) const {
    if (!valid_) {
        return {};
    }
    QByteArrayList pieces{QByteArray()};
    for (const Part& part : parts_) {
        if (&part != &parts_.first()) {
            pieces.last() += ' ';
        }
        if (!part.literal) {
            pieces.last() += part.text;
            continue;
        }
        pieces.last() +=
            '{' + QByteArray::number(part.text.size()) + (non_synchronizing ? "+}\r\n" : "}\r\n");
        if (non_synchronizing) {
            pieces.last() += part.text;
        } else {
            pieces << part.text;
        }
    }
    pieces.last() += "\r\n";
    return pieces;
}

}  // namespace ostrel::imap
