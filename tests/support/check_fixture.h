#pragma once

#include <QByteArray>
#include <QTextEdit>
#include <QTimer>
#include <QWidget>

#include "check/check_driver.h"
#include "config/password_store.h"
#include "notify/nota_manager.h"
#include "pop3/pop3_reader.h"
#include "support/context_fixture.h"

namespace ostrel::testing {

// A check as the main window runs it, without the main window: a context,
// the popups and their owner, the schedule's tick and the blink, the header
// trace, one POP3 reader with a short reply time-out, and the driver that
// reads every account with it.
struct CheckFixture : ContextFixture {
    explicit CheckFixture(int reply_timeout_ms = 400, const TlsSettings& tls = {kPop3TlsPort, {}},
                          int keyring_timeout_ms = PasswordStore::kTimeoutMs);

    void write_accounts(const QByteArray& accounts) const {
        folder.write("lumetta_pop.cfg", accounts);
    }
    void run() { driver.executa2(); }
    QString trace() const { return Text1.toPlainText(); }
    // Between checks: the tick running, no blink, no wait, the caption and
    // image restored, the connection closed.
    bool idle() const;

    QWidget owner;
    NotaManager notes{log, &owner};
    PasswordStore passwords;
    QTimer Timer1;
    QTimer Timer2;
    QTextEdit Text1;
    QString caption;
    TrayImage image = TrayImage::Normal;
    Pop3Reader reader;
    CheckDriver driver;
};

}  // namespace ostrel::testing
