#include "desktop/window_shape.h"

#include <QWidget>

namespace ostrel {

QByteArray region_table(ShapedWindow) {
    return {};
}

QRegion region_from_table(const QByteArray&) {
    return {};
}

QImage shape_picture(ShapedWindow) {
    return {};
}

QColor shape_key_colour(ShapedWindow) {
    return {};
}

void apply_shape(QWidget*, ShapedWindow) {}

}  // namespace ostrel
