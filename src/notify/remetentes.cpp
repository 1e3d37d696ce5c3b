#include "notify/remetentes.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>

#include "desktop/drag_surface.h"
#include "desktop/popup_placement.h"
#include "desktop/window_shape.h"
#include "notify/close_picture.h"

namespace ostrel {

Remetentes::Remetentes(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::Tool) {
    setObjectName(QStringLiteral("remetentes"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(178, 251);
    QFont small = font();
    small.setPixelSize(11);
    setFont(small);

    // The title line sits on the picture's blue strip.
    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(0, 0, 177, 17);
    Label1->setIndent(6);
    Label1->setTextFormat(Qt::PlainText);
    Label1->setStyleSheet(QStringLiteral("QLabel { color: white; font-weight: bold; }"));

    Text1 = new QPlainTextEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(8, 24, 169, 161);
    Text1->setReadOnly(true);
    Text1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    Picture1 = make_close_picture(this, QRect(160, 0, 20, 20));

    make_drag_surface(this, this);
    make_drag_surface(Label1, this);
}

Remetentes::~Remetentes() = default;

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
