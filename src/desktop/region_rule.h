#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QRect>
#include <QVector>

namespace ostrel {

// How a window outline is read off its background picture: every pixel whose
// colour differs from the key colour belongs to the outline; each row is cut
// into maximal runs of such pixels; consecutive rows with identical runs form
// one band, and a band gives one rectangle per run. Rectangles come band by
// band from the top, left to right within a band.
QVector<QRect> outline_rectangles(const QImage& picture, const QColor& key);

// The rectangle-list layout of a region (all fields 32-bit little-endian):
// header size 32, type 1, count n, 16 * n, the bounding box, then n
// rectangles as left, top, right, bottom with right and bottom exclusive.
QByteArray rectangle_list_bytes(const QVector<QRect>& rectangles);

// The rectangles held in such a list. A list whose header or length does not
// match the layout gives `ok` = false and no rectangles.
QVector<QRect> rectangles_from_list(const QByteArray& bytes, bool* ok = nullptr);

}  // namespace ostrel
