#pragma once

#include <QByteArray>
#include <QList>

#include "support/dovecot_fixture.h"

namespace ostrel::testing {

// Messages whose header blocks are the size of real ones: 2 to 6 KiB of
// relay, authentication and list headers, as mail from a large provider
// arrives.
inline QList<QByteArray> realistic_messages(int count) {
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
    QList<QByteArray> list = DovecotFixture::numbered_messages(count, "sender", "bench message ");
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
