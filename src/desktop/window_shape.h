#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QRegion>

class QWidget;

namespace ostrel {

// The five shaped windows; Form9 and menu1 share one outline.
enum class ShapedWindow { NotaForm, Remetentes, GeneralForm, Form9, Menu1 };

// The window's outline as a rectangle list (little-endian: header size 32,
// type 1, count, 16 * count, bounding box, then the rectangles).
QByteArray region_table(ShapedWindow window);

// The outline a rectangle list describes.
QRegion region_from_table(const QByteArray& table);

// The window's background picture and the colour that is cut away from it.
QImage shape_picture(ShapedWindow window);
QColor shape_key_colour(ShapedWindow window);

// Gives `window` its outline (a mask) and, when `paint_background` is set, its
// background picture.
void apply_shape(QWidget* window, ShapedWindow which);

}  // namespace ostrel
