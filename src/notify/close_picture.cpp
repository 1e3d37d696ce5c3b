#include "notify/close_picture.h"

#include <QMouseEvent>

#include "desktop/window_shape.h"

namespace ostrel {

ClosePicture::ClosePicture(QWidget* window) : QLabel(window) {
    setPixmap(close_picture());
    setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    setCursor(Qt::PointingHandCursor);
    setToolTip(QStringLiteral("Close"));
}

void ClosePicture::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void ClosePicture::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        emit clicked();
    }
    event->accept();
}

ClosePicture* make_close_picture(QWidget* window, const QRect& place) {
    auto* picture = new ClosePicture(window);
    picture->setObjectName(QStringLiteral("Picture1"));
    picture->setGeometry(place);
    QObject::connect(picture, &ClosePicture::clicked, window, &QWidget::close);
    return picture;
}

}  // namespace ostrel
