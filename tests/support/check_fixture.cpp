#include "support/check_fixture.h"

#include "core/resources.h"

namespace ostrel::testing {

namespace {

Pop3Settings settings(int reply_timeout_ms, const TlsSettings& tls) {
    Pop3Settings made;
    made.reply_timeout_ms = reply_timeout_ms;
    made.tls = tls;
    return made;
}

}  // namespace

CheckFixture::CheckFixture(int reply_timeout_ms, const TlsSettings& tls, int keyring_timeout_ms)
    : passwords(keyring_timeout_ms),
      reader(files, log, prompt, settings(reply_timeout_ms, tls)),
      driver(context, notes, passwords,
             {&Timer1, &Timer2, &Text1, [this](const QString& text) { caption = text; },
              [this](TrayImage shown) { image = shown; }},
             [this](const QString&) -> MailboxReader& { return reader; }) {
    init_resources();
    Timer1.setInterval(60000);
    Timer2.setInterval(50);
}

bool CheckFixture::idle() const {
    return Timer1.isActive() && !Timer2.isActive() &&
           !reader.connection().reply_timer()->isActive() && caption == QLatin1String("Get Mail") &&
           image == TrayImage::Normal && reader.connection().is_closed() && !driver.running();
}

}  // namespace ostrel::testing
