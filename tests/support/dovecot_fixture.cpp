#include "support/dovecot_fixture.h"

#include <pwd.h>
#include <unistd.h>
#include <QDateTime>
#include <QDir>
#include <QFile>

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

QString empty_folder(const QString& path) {
    QDir dir(path);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden)) {
        if (!dir.remove(name)) {
            return QStringLiteral("cannot remove %1/%2").arg(path, name);
        }
    }
    return {};
}

}  // namespace

bool DovecotFixture::available() {
    return !qEnvironmentVariableIsEmpty("OSTREL_DOVECOT_PORT");
}

quint16 DovecotFixture::port() {
    return static_cast<quint16>(qEnvironmentVariableIntValue("OSTREL_DOVECOT_PORT"));
}

QString DovecotFixture::password() {
    return qEnvironmentVariable("OSTREL_DOVECOT_PASSWORD");
}

QString DovecotFixture::address() {
    return QStringLiteral("127.0.0.1:%1").arg(port());
}

QString DovecotFixture::fill(const QString& user, const QList<QByteArray>& messages) {
    const QString root = maildir(user);
    for (const char* sub : {"new", "cur", "tmp"}) {
        const QString error = empty_folder(root + QLatin1Char('/') + QLatin1String(sub));
        if (!error.isEmpty()) {
            return error;
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
    return "Return-Path: <" + from +
           ">\n"
           "Received: from mx.example.org by pop.example.net; Sun, 6 Dec 2026 10:00:01 +0000\n"
           "From: " +
           from +
           "\n"
           "To: reader@example.net\n"
           "Subject: " +
           subject +
           "\n"
           "Date: Sun, 6 Dec 2026 10:00:00 +0000\n"
           "Message-ID: <" +
           subject.toHex() +
           "@example.org>\n"
           "\n"
           "Body text that TOP n 0 never brings.\n";
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

QList<QByteArray> DovecotFixture::realistic_messages(int count, const QByteArray& from_prefix,
                                                     const QByteArray& subject_prefix) {
    const QByteArray hop =
        "Received: from mail-relay-%1.example.net (mail-relay-%1.example.net [198.51.100.%1])\n"
        "\tby mx.example.org (Postfix) with ESMTPS id 4Qx%1Lm7Zz2;\n"
        "\tSun, 6 Dec 2026 10:00:%1 +0000 (UTC)\n";
    const QByteArray signature =
        "DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d=example.net; s=20230601;\n"
        "\th=from:to:subject:date:message-id:mime-version:content-type;\n"
        "\tbh=47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=;\n"
        "\tb=" +
        QByteArray(64, 'Q') + "\n\t " + QByteArray(64, 'w') + "\n\t " + QByteArray(64, 'E') +
        "\n"
        "Authentication-Results: mx.example.org; dkim=pass header.d=example.net;\n"
        "\tspf=pass smtp.mailfrom=example.net; dmarc=pass (p=REJECT) header.from=example.net\n"
        "List-Unsubscribe: <https://lists.example.net/unsubscribe?id=0123456789abcdef>\n"
        "X-Mailer: Example Mail Engine 12.4\n";
    QList<QByteArray> list = numbered_messages(count, from_prefix, subject_prefix);
    for (int k = 1; k <= count; ++k) {
        const int header_bytes = 2048 + (k * 1237) % 4096;
        QByteArray extra = signature;
        for (int n = 1; extra.size() + list[k - 1].size() < header_bytes; ++n) {
            extra += QByteArray(hop).replace("%1", QByteArray::number(n % 60));
        }
        list[k - 1].prepend(extra);
    }
    return list;
}

}  // namespace ostrel::testing
