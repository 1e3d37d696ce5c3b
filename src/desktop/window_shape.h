#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QRegion>

class QWidget;

namespace ostrel {

// The five shaped windows; Form9 and menu1 share one outline.
enum class ShapedWindow { NotaForm, Remetentes, GeneralForm, Form9, Menu1 };

// The window's outline as a rectangle list (little-endian: header size 32,
// type 1, count, 16 * count, bounding box, then the rectangles).
QByteArray region_table(ShapedWindow window);

// The outline a rectangle list describes; empty when the list is malformed.
QRegion region_from_table(const QByteArray& table);

// The window's background picture and the colour that is cut away from it.
QImage shape_picture(ShapedWindow window);
// The background picture as painted at a device pixel ratio: above 1 it is
// the twice-size drawing (scaled to the ratio), so it stays sharp and keeps
// the outline of the window's mask.
QPixmap shape_pixmap(ShapedWindow window, qreal device_pixel_ratio);
QColor shape_key_colour(ShapedWindow window);

// The 16 x 16 close picture of the popups.
QPixmap close_picture();

// Gives `window` its outline (a mask) and paints its background picture
// under its controls. A malformed table leaves the window rectangular.
// Calling it again replaces the outline and the picture.
void apply_shape(QWidget* window, ShapedWindow which);

}  // namespace ostrel
