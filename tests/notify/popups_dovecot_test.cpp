// Real checks against the private Dovecot that end in popups. Users: user41,
// user42.
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include "core/resources.h"
#include "notify/nota_form.h"
#include "notify/nota_manager.h"
#include "support/dovecot_fixture.h"
#include "support/startup_fixture.h"

using namespace ostrel;
using testing::DovecotFixture;
using testing::StartupFixture;

namespace {

// A program folder whose accounts file holds one account on the test server.
struct Account {
    Account(const QByteArray& user, const QByteArray& search_words) {
        start.load();
        start.folder.write("lumetta_pop.cfg", DovecotFixture::address().toUtf8() + "<>" + user +
                                                  "<>" + DovecotFixture::password().toUtf8() +
                                                  "<>" + search_words + "\r\n");
    }
    NotaManager& notes() { return start.form->notes(); }
    QString log() const { return QString::fromUtf8(start.folder.read("logfile.txt")); }
    StartupFixture start;
};

}  // namespace

class PopupsDovecotTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { init_resources(); }
    void init() {
        if (!DovecotFixture::available()) {
            QSKIP(DovecotFixture::kSkipReason);
        }
    }

    void new_mail_opens_one_popup_once() {
        QCOMPARE(DovecotFixture::fill(
                     "user41", {DovecotFixture::message("Ann Lee <ann@example.org>", "Lunch"),
                                DovecotFixture::message("Bob Stone <bob@example.org>", "Report"),
                                DovecotFixture::message("<carla@example.org>", "Photos")}),
                 QString());
        Account account("user41", "");
        account.start.form->executa2();
        QCOMPARE(account.notes().nota_count(), 1);
        NotaForm* nota = account.notes().newest();
        QCOMPARE(nota->windowTitle(), QString("nota"));
        QVERIFY(!nota->Label1->text().isEmpty());
        QCOMPARE(nota->Label2->text(), QString("You have  3 new message(s)"));
        QCOMPARE(nota->Label3->text(), DovecotFixture::address());
        QCOMPARE(nota->Label5->text(), QString("\r\nAnn Lee \r\nBob Stone \r\n"));
        QVERIFY(nota->Command1->isVisibleTo(nota));

        account.start.form->executa2();
        QCOMPARE(account.notes().nota_count(), 1);
        QVERIFY2(!account.log().contains("Fatal"), qPrintable(account.log()));
    }

    void search_words_open_a_popup_per_match_at_every_check() {
        QCOMPARE(DovecotFixture::fill(
                     "user42",
                     {DovecotFixture::message("Accounts <billing@example.com>", "Your invoice"),
                      DovecotFixture::message("Ann Lee <ann@example.org>", "Lunch")}),
                 QString());
        Account account("user42", "invoice lee");
        for (int check = 1; check <= 2; ++check) {
            account.start.form->executa2();
            QCOMPARE(account.notes().nota_count(), 2 * check);
        }
        NotaForm* invoice = account.notes().nota_list(3);
        QCOMPARE(invoice->windowTitle(), QString("note"));
        QCOMPARE(invoice->Label1->text(), QString("One message Match: invoice"));
        QCOMPARE(invoice->Label2->text(), QString("From: Accounts <billing@example.com>"));
        QCOMPARE(invoice->Label3->text(), QString("Subject: Your invoice"));
        QCOMPARE(invoice->Label4->text(), DovecotFixture::address());
        QVERIFY(!invoice->Command1->isVisibleTo(invoice));
        QCOMPARE(account.notes().newest()->Label1->text(), QString("One message Match: lee"));
        QVERIFY2(!account.log().contains("Fatal"), qPrintable(account.log()));
    }
};

QTEST_MAIN(PopupsDovecotTest)
#include "popups_dovecot_test.moc"
