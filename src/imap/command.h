#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>

namespace ostrel::imap {

// One command to the server, built from its parts so that no value can end
// the command line early or add a line of its own: a value goes as a quoted
// string when it can, and otherwise as a literal, whose bytes the server
// takes by count, not by line.
class Command {
public:
    Command(QByteArrayView tag, QByteArrayView name);

    // Protocol text the program itself writes ("INBOX", "1:*",
    // "(UID BODY.PEEK[HEADER.FIELDS (FROM SUBJECT)])"), sent as it is.
    Command& raw(QByteArrayView text);
    // A value from the user (login, password): a quoted string, or a literal
    // when it holds bytes a quoted string cannot (line ends, 8-bit bytes).
    Command& string(QByteArrayView value);

    // False when a part held a byte no command may carry (NUL anywhere; CR
    // or LF in raw text). Such a command must not be sent.
    bool valid() const { return valid_; }

    // The bytes to send, each piece after the previous one. Each piece but
    // the last ends with a literal's announcement "{n}" and its CR LF; the
    // server must answer "+" before the next is sent. With LITERAL+
    // (non_synchronizing) the announcements are "{n+}" and all goes at once.
    // Empty when not valid().
    QByteArrayList pieces(bool non_synchronizing = false) const;

private:
    struct Part {
        QByteArray text;
        bool literal = false;
    };
    QList<Part> parts_;
    bool valid_ = true;
};

}  // namespace ostrel::imap
