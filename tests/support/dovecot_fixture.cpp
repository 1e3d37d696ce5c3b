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
    return qEnvironmentVariable("OSTREL_DOVECOT_HOME") + QLatin1Char('/') + user +
           QStringLiteral("/Maildir");
}

// The mail files must belong to the user Dovecot reads them as.
void hand_to_dovecot(const QString& path) {
    if (const passwd* owner = getpwnam("dovecot")) {
        if (chown(QFile::encodeName(path).constData(), owner->pw_uid, owner->pw_gid) != 0) {
            qWarning("cannot hand %s to dovecot", qPrintable(path));
        }
    }
}

}  // namespace

QString DovecotFixture::fill(const QString& user, const QList<QByteArray>& messages) {
    const QString root = maildir(user);
    for (const char* sub : {"/new", "/cur", "/tmp"}) {
        QDir dir(root + QLatin1String(sub));
        for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden)) {
            if (!dir.remove(name)) {
                return QStringLiteral("cannot remove %1/%2").arg(dir.path(), name);
            }
        }
    }
    return deliver(user, messages);
}

QString DovecotFixture::deliver(const QString& user, const QList<QByteArray>& messages) {
    const QString root = maildir(user);
    static int delivered = 0;
    // Maildir delivery: write into tmp, then move into new. The names sort in
    // delivery order, which is the order Dovecot numbers them in.
    const qint64 stamp = QDateTime::currentSecsSinceEpoch();
    for (int i = 0; i < messages.size(); ++i) {
        const QString name = QStringLiteral("%1.M%2P%3.ostrel-test")
                                 .arg(stamp)
                                 .arg(delivered++, 6, 10, QLatin1Char('0'))
                                 .arg(getpid());
        const QString temporary = root + QStringLiteral("/tmp/") + name;
        QFile file(temporary);
        if (!file.open(QIODevice::WriteOnly) || file.write(messages[i]) != messages[i].size()) {
            return QStringLiteral("cannot write %1: %2").arg(temporary, file.errorString());
        }
        file.close();
        hand_to_dovecot(temporary);
        if (!QFile::rename(temporary, root + QStringLiteral("/new/") + name)) {
            return QStringLiteral("cannot deliver %1").arg(temporary);
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
