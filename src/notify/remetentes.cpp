#include "notify/remetentes.h"

#include <QHelpEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QToolTip>

#include "desktop/drag_surface.h"
#include "desktop/popup_placement.h"
#include "desktop/window_shape.h"
#include "notify/close_picture.h"
#include "notify/elided_line.h"

namespace ostrel {

Remetentes::Remetentes(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::Tool) {
    setObjectName(QStringLiteral("remetentes"));
    setAttribute(Qt::WA_DeleteOnClose);
    // Tool tips show the whole of a cut line, also while another window is
    // active.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    setFixedSize(178, 251);
    QFont small = font();
    small.setPixelSize(11);
    setFont(small);

    // The title line sits on the picture's blue strip.
    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(0, 0, 177, 17);
    Label1->setMinimumHeight(17);
    Label1->setIndent(6);
    Label1->setTextFormat(Qt::PlainText);
    Label1->setStyleSheet(QStringLiteral("QLabel { color: white; font-weight: bold; }"));

    Text1 = new QPlainTextEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(8, 24, 169, 161);
    Text1->setReadOnly(true);
    Text1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->viewport()->installEventFilter(this);

    Picture1 = make_close_picture(this, QRect(160, 0, 20, 20));

    make_drag_surface(this, this);
    make_drag_surface(Label1, this);
}

Remetentes::~Remetentes() = default;

bool Remetentes::event(QEvent* event) {
    // The title line is made tall enough for the scripts its text is drawn in.
    if (event->type() == QEvent::LayoutRequest) {
        fit_line_height(Label1);
    }
    return QWidget::event(event);
}

// A sender's line wider than the list shows whole as the tool tip.
bool Remetentes::eventFilter(QObject* watched, QEvent* event) {
    if (watched != Text1->viewport() || event->type() != QEvent::ToolTip) {
        return QWidget::eventFilter(watched, event);
    }
    const auto* help = static_cast<QHelpEvent*>(event);
    const QString line = Text1->cursorForPosition(help->pos()).block().text();
    if (Text1->fontMetrics().horizontalAdvance(line) > Text1->viewport()->width()) {
        QToolTip::showText(help->globalPos(), line, Text1->viewport());
    } else {
        QToolTip::hideText();
    }
    return true;
}

void Remetentes::load() {
    apply_shape(this, ShapedWindow::Remetentes);
    // Centred on the area that panels leave free.
    const QRect area = primary_popup_area();
    if (!area.isEmpty()) {
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
}

void Remetentes::set_list_text(const QString& frase) {
    QString lines = frase;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    Text1->setPlainText(lines);
}

}  // namespace ostrel
