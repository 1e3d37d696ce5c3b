#pragma once

#include <QString>

#include "mail/message_table.h"

class QTextEdit;

namespace ostrel {

class EventLog;
class NotaManager;
struct DataFiles;

// One account's mail as a check hands it to the evaluation.
struct AccountMail {
    QString server;        // names the seen-state file; shown in the popups
    QString search_words;  // empty: tell new mail; otherwise look for these words
    const MessageTable& messages;
    qint64 count = 0;  // messages 1 .. count were read
};

// After an account's mailbox was read: writes the header trace into `trace`
// (the main window's hidden Text1) and evaluates the messages (new mail or
// search words). A failure that the evaluation hands on is logged as
// "Fatal Err 004 ".
void process_headers(const DataFiles& files, EventLog& log, NotaManager& notes, QTextEdit* trace,
                     const AccountMail& mail);

// The evaluation of one account's mail: without search words one "nota"
// popup for the messages not seen at the previous check, with search words
// one "note" popup per matching message and word; then the seen-state file
// in the program folder `files` is rewritten. Failures before new mail was
// found (and all failures in search-word mode) are logged to `log` here as
// "Fatal Err 005 ". A failure after new mail was found is returned for the
// report step; empty when there is none.
[[nodiscard]] QString evaluate_mail(const DataFiles& files, EventLog& log, NotaManager& notes,
                                    const AccountMail& mail);

}  // namespace ostrel
