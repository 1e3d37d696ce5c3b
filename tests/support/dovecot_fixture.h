#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace ostrel::testing {

// The private Dovecot that scripts/test starts (OSTREL_DOVECOT_PORT,
// OSTREL_DOVECOT_HOME, OSTREL_DOVECOT_PASSWORD) and its users' Maildirs.
class DovecotFixture {
public:
    // False when no test server was started; tests then skip.
    static bool available() { return !qEnvironmentVariableIsEmpty("OSTREL_DOVECOT_PORT"); }
    static constexpr const char* kSkipReason =
        "OSTREL_DOVECOT_PORT is not set: start the test server (scripts/test does)";

    static quint16 port() { return quint16(qEnvironmentVariableIntValue("OSTREL_DOVECOT_PORT")); }
    static QString password() { return qEnvironmentVariable("OSTREL_DOVECOT_PASSWORD"); }
    static QString address() { return QStringLiteral("127.0.0.1:%1").arg(port()); }
    // IMAP on the same mailboxes: plain, plain with STARTTLS, TLS (see
    // scripts/dovecot-test-server); 0 when not set up.
    static quint16 imap_port(const char* kind = "IMAP") {
        return quint16(
            qEnvironmentVariableIntValue(QByteArray("OSTREL_DOVECOT_") + kind + "_PORT"));
    }
    // Runs doveadm on the instance with `arguments` and `input`; its output,
    // or nothing with a failure.
    static std::optional<QByteArray> doveadm(const QStringList& arguments,
                                             const QByteArray& input = {});

    // Empties `user`'s mailbox, then delivers `messages` in order. Returns an
    // error description, empty on success.
    static QString fill(const QString& user, const QList<QByteArray>& messages);
    // Delivers `messages` after those already there.
    static QString deliver(const QString& user, const QList<QByteArray>& messages);

    // A small real-looking message, lines ended by LF as Maildir keeps them.
    static QByteArray message(const QByteArray& from, const QByteArray& subject);

    // Messages 1 .. count from <from_prefix>k@example.org with the subject
    // <subject_prefix>k.
    static QList<QByteArray> numbered_messages(int count, const QByteArray& from_prefix,
                                               const QByteArray& subject_prefix);
};

}  // namespace ostrel::testing
