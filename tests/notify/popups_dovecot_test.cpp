// Real checks against the private Dovecot that end in popups. User: user47.
#include <QLabel>
#include <QPushButton>
#include <QTextDocumentFragment>
#include <QTextEdit>
#include <QtTest>

#include "notify/nota_form.h"
#include "support/check_fixture.h"
#include "support/dovecot_fixture.h"

using namespace ostrel;
using testing::DovecotFixture;

namespace {

// A check of one account on the test server.
struct Account : testing::CheckFixture {
    Account(const QByteArray& user, const QByteArray& search_words)
        : CheckFixture(kReplyTimeoutMs) {
        write_accounts(DovecotFixture::address().toUtf8() + "<>" + user + "<>" +
                       DovecotFixture::password().toUtf8() + "<>" + search_words + "\r\n");
    }
};

// A popup line's whole text: its tool tip, which holds it even when the line
// is cut to fit.
QString whole(const QLabel* line) {
    const QString tip = line->toolTip();
    return Qt::mightBeRichText(tip) ? QTextDocumentFragment::fromHtml(tip).toPlainText() : tip;
}

// Header blocks as four mail programs write them: encoded words in several
// charsets, folded subjects, raw UTF-8 (RFC 6532).
const QList<QByteArray> kRealMail = {
    "From: =?UTF-8?Q?Jos=C3=A9_Garc=C3=ADa?= <jose@example.es>\n"
    "Subject: =?UTF-8?B?UmV1bmnDs24gZGUgcHJlc3VwdWVzdG8gZGVsIHByw7N4aW1vIHRyaW1l?=\n"
    " =?UTF-8?B?c3RyZQ==?=\n"
    "User-Agent: Mozilla Thunderbird\nMIME-Version: 1.0\n"
    "Content-Type: text/plain; charset=UTF-8; format=flowed\n\nHola.\n",
    "From: =?iso-8859-1?Q?J=FCrgen_M=FCller?= <jm@example.de>\n"
    "Subject: Quarterly figures for the\n\t=?iso-8859-1?Q?n=F6rdliche?= northern region\n"
    "X-Mailer: Microsoft Outlook 16.0\nContent-Language: de-de\n\nHallo.\n",
    "From: =?UTF-8?B?5bGx55Sw?= =?UTF-8?B?5aSq6YOO?= <taro@example.jp>\n"
    "Subject: =?ISO-2022-JP?B?GyRCMnE1RCROGyhC?=\n =?ISO-2022-JP?B?GyRCNUQ7dk8/GyhC?=\n"
    "Content-Type: text/plain; charset=ISO-2022-JP\n\nbody\n",
    "From: Дмитрий <dmitry@example.ru>\n"
    "Subject: Grüße из Москвы\n"
    "Content-Type: text/plain; charset=UTF-8\n\nbody\n"};

}  // namespace

class PopupsDovecotTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        if (!DovecotFixture::available()) {
            QSKIP(DovecotFixture::kSkipReason);
        }
    }

    void real_mail_is_shown_decoded_and_stored_as_it_arrived() {
        QCOMPARE(DovecotFixture::fill("user47", kRealMail), QString());
        Account news("user47", "");
        news.run();
        QCOMPARE(news.notes.nota_count(), 1);
        NotaForm* nota = news.notes.newest();
        QCOMPARE(nota->Label2->text(), QString("You have  4 new message(s)"));
        const QString senders = "\r\nJosé García\r\nJürgen Müller\r\n山田太郎\r\nДмитрий";
        QCOMPARE(nota->Label5->text(), senders);
        // The seen state keeps each value's first line, byte for byte.
        const QByteArray seen = news.folder.read(DovecotFixture::address() + ".svr");
        QVERIFY(
            seen.contains(" =?iso-8859-1?Q?J=FCrgen_M=FCller?= <jm@example.de> "
                          "Quarterly figures for the\r\n"));
        QVERIFY(seen.contains(" Дмитрий <dmitry@example.ru> Grüße из Москвы\r\n"));
        news.run();
        QCOMPARE(news.notes.nota_count(), 1);

        // Accented words, and a word found only on a folded line.
        Account words("user47", "Jürgen PRÓXIMO northern grüße");
        words.run();
        QStringList matched;
        for (int k = 1; k <= words.notes.nota_count(); ++k) {
            const NotaForm* note = words.notes.nota_list(k);
            matched << note->Label1->text() + " | " + whole(note->Label2) + " | " +
                           whole(note->Label3);
        }
        const QString jose =
            " | From: José García <jose@example.es> | Subject: Reunión de "
            "presupuesto del próximo trimestre";
        const QString juergen =
            " | From: Jürgen Müller <jm@example.de> | Subject: Quarterly "
            "figures for the nördliche northern region";
        QCOMPARE(matched, QStringList({"One message Match: PRÓXIMO" + jose,
                                       "One message Match: Jürgen" + juergen,
                                       "One message Match: northern" + juergen,
                                       "One message Match: grüße | From: Дмитрий "
                                       "<dmitry@example.ru> | Subject: Grüße из Москвы"}));
        QVERIFY(words.trace().contains(" - 山田太郎 <taro@example.jp> - 会議の議事録"));
        QVERIFY2(!words.log_text().contains("Fatal"), qPrintable(words.log_text()));
    }
};

QTEST_MAIN(PopupsDovecotTest)
#include "popups_dovecot_test.moc"
