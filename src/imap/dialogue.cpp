#include "imap/dialogue.h"

namespace ostrel::imap {

void Offers::take(const QByteArrayList& capabilities) {
    *this = Offers();
    known = true;
    starttls = capabilities.contains("STARTTLS");
    login_disabled = capabilities.contains("LOGINDISABLED");
    literal_plus = capabilities.contains("LITERAL+");
    idle = capabilities.contains("IDLE");
    sasl_ir = capabilities.contains("SASL-IR");
    for (const QByteArray& capability : capabilities) {
        if (capability.startsWith("AUTH=")) {
            sasl << QString::fromLatin1(capability.mid(5));
        }
    }
}

QByteArrayList authenticate_lines(QByteArrayView tag, BearerMechanism mechanism,
                                  const QByteArray& initial_response, bool sasl_ir) {
    const QByteArray command =
        tag.toByteArray() + " AUTHENTICATE " + mechanism_name(mechanism).toLatin1();
    if (sasl_ir) {
        return {command + ' ' + initial_response + "\r\n"};
    }
    return {command + "\r\n", initial_response + "\r\n"};
}

Greeting read_greeting(const Response& greeting, bool encrypted) {
    if (greeting.kind != Response::Kind::Untagged) {
        return Greeting::Unreadable;
    }
    switch (greeting.condition) {
        case Condition::Ok:
            return Greeting::Proceed;
        case Condition::Preauth:
            // Signed in before TLS could begin: someone in between may have
            // said so to keep the connection in clear.
            return encrypted ? Greeting::SignedIn : Greeting::PreauthInClear;
        case Condition::Bye:
            return Greeting::Bye;
        default:
            return Greeting::Unreadable;
    }
}

Command login_command(QByteArrayView tag, const QString& login, const QString& password) {
    Command command(tag, "LOGIN");
    command.string(login.toUtf8()).string(password.toUtf8());
    return command;
}

void MailboxStatus::take(const Response& response) {
    if (response.kind != Response::Kind::Untagged) {
        return;
    }
    if (response.data == "EXISTS") {
        exists = response.number;
    } else if (response.data == "EXPUNGE" && exists > 0) {
        --exists;
    } else if (response.condition == Condition::Ok && response.code == "UIDVALIDITY") {
        uid_validity = response.code_number;
    } else if (response.condition == Condition::Ok && response.code == "UIDNEXT") {
        uid_next = response.code_number;
    }
}

QString shown_status(const Response& response) {
    static const char* const names[] = {"", "OK", "NO", "BAD", "BYE", "PREAUTH"};
    QByteArray text = names[int(response.condition)];
    if (!response.code.isEmpty()) {
        text += " [" + response.code + (response.code_argument.isEmpty() ? "" : " ") +
                response.code_argument.left(60) + "]";
    }
    text += ' ' + response.text;
    QString shown = QString::fromLatin1(text.trimmed().left(200));
    for (QChar& c : shown) {
        if (!c.isPrint()) {
            c = QLatin1Char('?');
        }
    }
    return shown;
}

QByteArrayList uid_sets(const QList<quint32>& uids, int ranges) {
    QByteArrayList sets;
    QByteArray set;
    int in_set = 0;
    for (qsizetype i = 0; i < uids.size();) {
        qsizetype end = i;
        while (end + 1 < uids.size() && uids[end + 1] == uids[end] + 1) {
            ++end;
        }
        if (in_set == ranges) {
            sets << set;
            set.clear();
            in_set = 0;
        }
        set += (set.isEmpty() ? "" : ",") + QByteArray::number(uids[i]) +
               (end > i ? ':' + QByteArray::number(uids[end]) : QByteArray());
        ++in_set;
        i = end + 1;
    }
    if (!set.isEmpty()) {
        sets << set;
    }
    return sets;
}

}  // namespace ostrel::imap
