#pragma once

#include <QString>

#include "config/accounts_file.h"

namespace ostrel {

// Why the editor must not store `account`, or an empty text when it may. A
// field holding "<>", CR or LF would read back as a different account, and the
// server text must be able to name its seen-state file in the program folder.
[[nodiscard]] QString account_field_problem(const PopAccount& account);

// Takes every line of the account named `key` out of the file and appends
// `account`, in one atomic, owner-only rewrite: the file ends up either as it
// was or with the change made whole. Returns an error description, empty on
// success.
[[nodiscard]] QString replace_account(const QString& path, const QString& key,
                                      const PopAccount& account);

}  // namespace ostrel
