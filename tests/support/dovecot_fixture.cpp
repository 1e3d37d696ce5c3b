#include "support/dovecot_fixture.h"

#include <pwd.h>
#include <unistd.h>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace ostrel::testing {

namespace {

QString maildir(const QString& user) {
    return qEnvironmentVariable("OSTREL_DOVECOT_HOME") + '/' + user + "/Maildir";
}

}  // namespace

QString DovecotFixture::fill(const QString& user, const QList<QByteArray>& messages) {
    for (const char* sub : {"/new", "/cur", "/tmp"}) {
        QDir dir(maildir(user) + sub);
        for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden)) {
            if (!dir.remove(name)) {
                return "cannot remove " + dir.filePath(name);
            }
        }
    }
    return deliver(user, messages);
}

// Maildir delivery: written into tmp, handed to the user Dovecot reads them
// as, then moved into new. The names sort in delivery order, which is the
// order Dovecot numbers them in.
QString DovecotFixture::deliver(const QString& user, const QList<QByteArray>& messages) {
    static int delivered = 0;
    const passwd* owner = getpwnam("dovecot");
    for (const QByteArray& message : messages) {
        const QString name = QStringLiteral("%1.M%2P%3.ostrel-test")
                                 .arg(QDateTime::currentSecsSinceEpoch())
                                 .arg(delivered++, 6, 10, QLatin1Char('0'))
                                 .arg(getpid());
        QFile file(maildir(user) + "/tmp/" + name);
        if (!file.open(QIODevice::WriteOnly) || file.write(message) != message.size()) {
            return "cannot write " + file.fileName() + ": " + file.errorString();
        }
        file.close();
        if (owner && chown(QFile::encodeName(file.fileName()), owner->pw_uid, owner->pw_gid) != 0) {
            qWarning("cannot hand %s to dovecot", qPrintable(file.fileName()));
        }
        if (!file.rename(maildir(user) + "/new/" + name)) {
            return "cannot deliver " + file.fileName();
        }
    }
    return {};
}

QByteArray DovecotFixture::message(const QByteArray& from, const QByteArray& subject) {
    return QByteArrayList{
        "Return-Path: <" + from + ">",
        "Received: from mx.example.org by pop.example.net; Sun, 6 Dec 2026 10:00:01 +0000",
        "From: " + from,
        "To: reader@example.net",
        "Subject: " + subject,
        "Date: Sun, 6 Dec 2026 10:00:00 +0000",
        "Message-ID: <" + subject.toHex() + "@example.org>",
        "",
        "Body text that TOP n 0 never brings.\n"}
        .join('\n');
}

std::optional<QByteArray> DovecotFixture::doveadm(const QStringList& arguments,
                                                  const QByteArray& input) {
    QProcess process;
    const QString configuration =
        QFileInfo(qEnvironmentVariable("OSTREL_DOVECOT_HOME")).path() + "/dovecot.conf";
    process.start("doveadm", QStringList{"-c", configuration} + arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000) || process.exitCode() != 0) {
        qWarning("doveadm %s: %s", qPrintable(arguments.join(' ')),
                 process.readAllStandardError().constData());
        return std::nullopt;
    }
    return process.readAllStandardOutput();
}

QList<QByteArray> DovecotFixture::numbered_messages(int count, const QByteArray& from_prefix,
                                                    const QByteArray& subject_prefix) {
    QList<QByteArray> list;
    for (int k = 1; k <= count; ++k) {
        const QByteArray number = QByteArray::number(k);
        list << message(from_prefix + number + "@example.org", subject_prefix + number);
    }
    return list;
}

}  // namespace ostrel::testing
