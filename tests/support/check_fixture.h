#pragma once

#include <QByteArray>
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

}  // namespace ostrel::testing
