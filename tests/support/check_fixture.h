#pragma once

#include <QByteArray>
#include <QHash>
#include <QTextEdit>
#include <QTimer>
#include <QWidget>

#include "check/check_driver.h"
#include "config/password_store.h"
#include "core/resources.h"
#include "imap/imap_reader.h"
#include "notify/nota_manager.h"
#include "pop3/pop3_reader.h"
#include "support/context_fixture.h"

namespace ostrel::testing {

// A check as the main window runs it, without the main window: a context,
// the popups and their owner, the schedule's tick and the blink, the header
// trace, a POP3 and an IMAP reader with a short reply time-out, and the
// driver that reads each account with the one its server field names,
// asking `tokens` for signed-in accounts.
struct CheckFixture : ContextFixture {
    explicit CheckFixture(int reply_timeout_ms = 400, const TlsSettings& tls = {kPop3TlsPort, {}},
                          int keyring_timeout_ms = PasswordStore::kTimeoutMs,
                          TokenSource tokens = {})
        : passwords(keyring_timeout_ms),
          reader(files, log, prompt, {reply_timeout_ms, tls}),
          imap_reader(files, log, prompt, {reply_timeout_ms, tls.extra_authorities}),
          driver(
              context, notes, passwords,
              {&Timer1, &Timer2, &Text1, [this](const QString& text) { caption = text; },
               [this](TrayImage shown) { image = shown; }},
              [this](const QString& server) -> MailboxReader& {
                  return imap_scheme(server).isEmpty() ? static_cast<MailboxReader&>(reader)
                                                       : imap_reader;
              },
              std::move(tokens)) {
        init_resources();
        Timer1.setInterval(60000);
        Timer2.setInterval(50);
    }

    void write_accounts(const QByteArray& accounts) const {
        folder.write("lumetta_pop.cfg", accounts);
    }
    void run() { driver.executa2(); }
    QString trace() const { return Text1.toPlainText(); }
    // Between checks: the tick running, no blink, no wait, the caption and
    // image restored, the connection closed.
    bool idle() const {
        return Timer1.isActive() && !Timer2.isActive() && caption == QLatin1String("Get Mail") &&
               image == TrayImage::Normal && reader.connection().is_closed() &&
               imap_reader.connection().is_closed() &&
               !reader.connection().reply_timer()->isActive() && !driver.running();
    }

    QWidget owner;
    NotaManager notes{log, &owner};
    PasswordStore passwords;
    QTimer Timer1;
    QTimer Timer2;
    QTextEdit Text1;
    QString caption;
    TrayImage image = TrayImage::Normal;
    Pop3Reader reader;
    imap::ImapReader imap_reader;
    CheckDriver driver;
};

// A check whose token source answers from `tokens`, in turn for each login
// (then "not signed in"), noting each question in `asked` ("ann renew").
struct SignedInCheck : CheckFixture {
    explicit SignedInCheck(const TlsSettings& tls)
        : CheckFixture(3000, tls, PasswordStore::kTimeoutMs,
                       [this](const QString&, const QString& login, bool renew) {
                           asked << login + (renew ? " renew" : "");
                           return tokens[login].isEmpty() ? TokenAnswer()
                                                          : tokens[login].takeFirst();
                       }) {}
    QHash<QString, QList<TokenAnswer>> tokens;
    QStringList asked;
};

inline TokenAnswer ready_token(const QString& token) {
    return {TokenAnswer::Ready, token, {}, false};
}

}  // namespace ostrel::testing
