#pragma once

#include <QString>

class QLabel;

namespace ostrel {

// Shows `text` as plain text on a one-line label, cut with "…" at the end
// when it is wider than the label; the whole text is the label's tool tip.
void set_elided_text(QLabel* label, const QString& text);

}  // namespace ostrel
