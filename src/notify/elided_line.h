#pragma once

#include <QString>

class QFont;
class QFontMetrics;
class QLabel;

namespace ostrel {

// What a one-line label `width` pixels wide shows of `text`: the text whole
// when it fits, else cut with "…" at the end. When `keep` (letter case
// ignored) lies past that cut, the text's start, "…" and the text from `keep`
// on, cut at the end if need be, so that the word is on screen.
QString elide_keeping(const QString& text, const QString& keep, const QFontMetrics& metrics,
                      int width);

// Shows `text` as plain text on a one-line label, cut as elide_keeping cuts
// it; the whole text is the label's tool tip.
void set_elided_text(QLabel* label, const QString& text, const QString& keep = QString());

// The height `text` takes on one line in `font`, counting every font that
// draws a part of it: the fonts the system falls back to for other scripts
// (CJK, emoji) are often taller than the label's own.
int line_height(const QString& text, const QFont& font);

// Makes a one-line label as tall as its text needs, never lower than its
// minimum height.
void fit_line_height(QLabel* label);

}  // namespace ostrel
