#include "mail/token_renewal.h"

#include "core/event_log.h"

namespace ostrel {

MailboxReading read_renewing_token(const MailboxAccount& account, EventLog& log,
                                   const TokenDialogue& dialogue) {
    QString refusal;
    MailboxReading reading = dialogue(account, &refusal);
    if (refusal.isEmpty()) {
        return reading;
    }
    QString refused = QStringLiteral("%1: the sign-in token of %2 was refused");
    if (account.credential.renew) {
        const std::optional<QString> renewed = account.credential.renew();
        if (!renewed) {
            return reading;
        }
        MailboxAccount again = account;
        again.credential.secret = *renewed;
        refusal.clear();
        reading = dialogue(again, &refusal);
        if (refusal.isEmpty()) {
            return reading;
        }
        refused += QStringLiteral(", and a renewed one too");
    }
    log.log_event((refused + QStringLiteral(": %3; the account was not checked"))
                      .arg(account.server, account.login, refusal));
    return reading;
}

}  // namespace ostrel
