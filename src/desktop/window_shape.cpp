#include "desktop/window_shape.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QWidget>

#include "desktop/region_rule.h"
#include "desktop/shape_tables.h"

namespace ostrel {

namespace {

template <std::size_t N>
QVector<QRect> to_rects(const shape_tables::Rectangle (&table)[N]) {
    QVector<QRect> rects;
    rects.reserve(int(N));
    for (const auto& r : table) {
        rects.append(QRect(r.left, r.top, r.right - r.left, r.bottom - r.top));
    }
    return rects;
}

QString picture_path(ShapedWindow window) {
    switch (window) {
        case ShapedWindow::NotaForm:
            return QStringLiteral(":/nota_form.png");
        case ShapedWindow::Remetentes:
            return QStringLiteral(":/remetentes.png");
        case ShapedWindow::GeneralForm:
            return QStringLiteral(":/general_form.png");
        case ShapedWindow::Form9:
        case ShapedWindow::Menu1:
            break;
    }
    return QStringLiteral(":/form9.png");
}

// Paints the window's background picture before the window paints itself,
// drawn for the device pixel ratio of the screen the window is on.
class BackgroundPicture : public QObject {
public:
    explicit BackgroundPicture(QWidget* window) : QObject(window), window_(window) {
        setObjectName(QStringLiteral("ostrel_background_picture"));
        window->installEventFilter(this);
    }
    void set_picture(ShapedWindow which) {
        which_ = which;
        picture_ = QPixmap();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && event->type() == QEvent::Paint) {
            const qreal ratio = window_->devicePixelRatioF();
            if (picture_.isNull() || picture_.devicePixelRatio() != ratio) {
                picture_ = shape_pixmap(which_, ratio);
            }
            QPainter painter(window_);
            painter.drawPixmap(0, 0, picture_);
        }
        return false;
    }

private:
    QWidget* window_;
    ShapedWindow which_ = ShapedWindow::NotaForm;
    QPixmap picture_;
};

}  // namespace

QByteArray region_table(ShapedWindow window) {
    switch (window) {
        case ShapedWindow::NotaForm:
            return rectangle_list_bytes(to_rects(shape_tables::kNotaForm));
        case ShapedWindow::Remetentes:
            return rectangle_list_bytes(to_rects(shape_tables::kRemetentes));
        case ShapedWindow::GeneralForm:
            return rectangle_list_bytes(to_rects(shape_tables::kGeneralForm));
        case ShapedWindow::Form9:
        case ShapedWindow::Menu1:
            break;
    }
    return rectangle_list_bytes(to_rects(shape_tables::kForm9));
}

QRegion region_from_table(const QByteArray& table) {
    QRegion region;
    for (const QRect& rect : rectangles_from_list(table)) {
        region += rect;
    }
    return region;
}

QImage shape_picture(ShapedWindow window) {
    return QImage(picture_path(window));
}

QPixmap shape_pixmap(ShapedWindow window, qreal device_pixel_ratio) {
    if (device_pixel_ratio <= 1.0) {
        return QPixmap::fromImage(shape_picture(window));
    }
    QString path = picture_path(window);
    path.replace(QStringLiteral(".png"), QStringLiteral("@2x.png"));
    QImage picture(path);
    if (picture.isNull()) {
        picture = shape_picture(window);
    }
    const QSize size = shape_picture(window).size();
    const QSize device_size(qRound(size.width() * device_pixel_ratio),
                            qRound(size.height() * device_pixel_ratio));
    if (picture.size() != device_size) {
        picture = picture.scaled(device_size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    picture.setDevicePixelRatio(device_pixel_ratio);
    return QPixmap::fromImage(picture);
}

QColor shape_key_colour(ShapedWindow window) {
    switch (window) {
        case ShapedWindow::NotaForm:
        case ShapedWindow::Remetentes:
            return QColor(128, 128, 128);
        case ShapedWindow::GeneralForm:
            return QColor(254, 254, 255);
        case ShapedWindow::Form9:
        case ShapedWindow::Menu1:
            break;
    }
    return QColor(254, 254, 254);
}

QPixmap close_picture() {
    // The twice-size drawing on a dense screen. Loaded by its path, so every
    // popup shares one entry of the pixmap cache (a new QIcon each time would
    // add one entry per popup).
    const bool dense = qApp != nullptr && qApp->devicePixelRatio() > 1.0;
    QPixmap picture(dense ? QStringLiteral(":/close@2x.png") : QStringLiteral(":/close.png"));
    picture.setDevicePixelRatio(dense ? 2.0 : 1.0);
    return picture;
}

void apply_shape(QWidget* window, ShapedWindow which) {
    if (window == nullptr) {
        return;
    }
    const QRegion region = region_from_table(region_table(which));
    if (region.isEmpty()) {
        window->clearMask();
    } else {
        window->setMask(region);
    }
    auto* background = dynamic_cast<BackgroundPicture*>(window->findChild<QObject*>(
        QStringLiteral("ostrel_background_picture"), Qt::FindDirectChildrenOnly));
    if (background == nullptr) {
        background = new BackgroundPicture(window);
    }
    background->set_picture(which);
    window->update();
}

}  // namespace ostrel
