#pragma once

#include <QString>

#include "core/app_context.h"

class QTextEdit;

namespace ostrel {

class NotaManager;

// After an account's TOP loop: writes the header trace into `trace` (the main
// window's hidden Text1), evaluates the messages (new mail or search words),
// and clears the message table. A failure that the evaluation hands on is
// logged as "Fatal Err 004 " and leaves the table as it is.
void process_headers(const AppContext& context, NotaManager& notes, QTextEdit* trace);

// The evaluation of the account in context.state: without search words one
// "nota" popup for the messages not seen at the previous check, with search
// words one "note" popup per matching message and word; then the seen-state
// file is rewritten. Failures before new mail was found (and all failures in
// search-word mode) are logged here as "Fatal Err 005 ". A failure after new
// mail was found is returned for the report step; empty when there is none.
[[nodiscard]] QString evaluate_mail(const AppContext& context, NotaManager& notes);

}  // namespace ostrel
