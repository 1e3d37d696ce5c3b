#include "notify/elided_line.h"

#include <QLabel>

namespace ostrel {

void set_elided_text(QLabel* label, const QString& text) {
    // The style sheet may make the font bold: measure with the font shown.
    label->ensurePolished();
    label->setTextFormat(Qt::PlainText);
    label->setText(
        label->fontMetrics().elidedText(text, Qt::ElideRight, label->contentsRect().width()));
    // A tool tip that looks like markup is shown as markup: escape it, and
    // say it is rich text so that the escapes are read.
    label->setToolTip(QStringLiteral("<qt>") + text.toHtmlEscaped() + QStringLiteral("</qt>"));
}

}  // namespace ostrel
