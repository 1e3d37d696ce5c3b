#pragma once

#include <QString>

namespace ostrel {

// The leading number of a text, the way the STAT count and the check interval
// are read: blanks (space, tab, line feed) are skipped anywhere, then an
// optional sign, digits, a decimal point and an exponent. No digits gives 0.
// "1 0" is 10, "2e1" is 20, "Logged" is 0.
double numeric_value(const QString& text);

}  // namespace ostrel
