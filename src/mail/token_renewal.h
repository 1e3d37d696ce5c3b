#pragma once

#include <QString>
#include <functional>

#include "mail/mailbox_reader.h"

namespace ostrel {

class EventLog;

// One dialogue with the server under `account`'s credential; it sets
// `refusal` to why the server refused a bearer token, and leaves it empty
// when it did not.
using TokenDialogue =
    std::function<MailboxReading(const MailboxAccount& account, QString* refusal)>;

// Reads with `dialogue`; a refused bearer token is renewed once and tried
// on a new dialogue (a server may hang up after a refusal, or while the
// renewal waits for the provider). A refusal that stands is one log line;
// without a renewed token the renewal has said why.
MailboxReading read_renewing_token(const MailboxAccount& account, EventLog& log,
                                   const TokenDialogue& dialogue);

}  // namespace ostrel
