#include "notify/elided_line.h"

#include <QFontMetrics>
#include <QGlyphRun>
#include <QLabel>
#include <QRawFont>
#include <QTextDocument>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

namespace ostrel {

QString elide_keeping(const QString& text, const QString& keep, const QFontMetrics& metrics,
                      int width) {
    const QString cut = metrics.elidedText(text, Qt::ElideRight, width);
    const qsizetype at = keep.isEmpty() ? -1 : text.indexOf(keep, 0, Qt::CaseInsensitive);
    // The cut keeps all but its last character, the "…".
    if (cut == text || at < 0 || at + keep.size() < cut.size()) {
        return cut;
    }
    const QString ellipsis(QChar(0x2026));
    const int room_before = width - metrics.horizontalAdvance(text.mid(at, keep.size())) -
                            2 * metrics.horizontalAdvance(ellipsis);
    QString start = room_before > 0
                        ? metrics.elidedText(text.left(at), Qt::ElideRight,
                                             room_before + metrics.horizontalAdvance(ellipsis))
                        : QString();
    if (start.isEmpty()) {
        start = ellipsis;
    }
    return start + metrics.elidedText(text.mid(at), Qt::ElideRight,
                                      width - metrics.horizontalAdvance(start));
}

void set_elided_text(QLabel* label, const QString& text, const QString& keep) {
    // The style sheet may make the font bold: measure with the font shown.
    label->ensurePolished();
    label->setTextFormat(Qt::PlainText);
    const int width = label->contentsRect().width() - std::max(label->indent(), 0);
    label->setText(elide_keeping(text, keep, label->fontMetrics(), width));
    // A tool tip that looks like markup is shown as markup: such a one is
    // escaped, and kept on one line as a plain one is (rich text wraps).
    label->setToolTip(Qt::mightBeRichText(text) ? QStringLiteral("<p style='white-space:pre'>") +
                                                      text.toHtmlEscaped() + QStringLiteral("</p>")
                                                : text);
}

int line_height(const QString& text, const QFont& font) {
    QTextLayout layout(text, font);
    layout.beginLayout();
    qreal height = layout.createLine().height();
    layout.endLayout();
    for (const QGlyphRun& run : layout.glyphRuns()) {
        const QRawFont drawn = run.rawFont();
        height = std::max(height, drawn.ascent() + drawn.descent());
    }
    return int(std::ceil(height));
}

void fit_line_height(QLabel* label) {
    label->ensurePolished();
    const int height = std::max(label->minimumHeight(), line_height(label->text(), label->font()));
    if (height != label->height()) {
        label->resize(label->width(), height);
    }
}

}  // namespace ostrel
