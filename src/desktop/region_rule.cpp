#include "desktop/region_rule.h"

#include <QtEndian>
#include <cstdlib>

namespace ostrel {

namespace {

constexpr int kHeaderSize = 32;
constexpr int kRectangleSize = 16;
constexpr quint32 kRectangleType = 1;
// Far beyond any screen, and small enough that no width or height overflows.
constexpr qint64 kCoordinateLimit = 1 << 24;

using Runs = QVector<QPair<int, int>>;  // [first, end) of each run in a row

Runs row_runs(const QImage& picture, int y, QRgb key) {
    Runs runs;
    const int width = picture.width();
    int x = 0;
    while (x < width) {
        while (x < width && (picture.pixel(x, y) & 0xFFFFFFu) == key) {
            ++x;
        }
        const int first = x;
        while (x < width && (picture.pixel(x, y) & 0xFFFFFFu) != key) {
            ++x;
        }
        if (x > first) {
            runs.append({first, x});
        }
    }
    return runs;
}

void put(QByteArray& bytes, int offset, qint32 value) {
    qToLittleEndian<qint32>(value, bytes.data() + offset);
}

qint32 get(const QByteArray& bytes, int offset) {
    return qFromLittleEndian<qint32>(bytes.constData() + offset);
}

}  // namespace

QVector<QRect> outline_rectangles(const QImage& picture, const QColor& key) {
    // Alpha plays no part: only red, green and blue are compared.
    const QRgb key_rgb = key.rgb() & 0xFFFFFFu;
    QVector<QRect> rectangles;
    Runs band_runs;
    int band_top = 0;
    auto close_band = [&](int end_row) {
        for (const auto& run : band_runs) {
            rectangles.append(
                QRect(run.first, band_top, run.second - run.first, end_row - band_top));
        }
    };
    for (int y = 0; y < picture.height(); ++y) {
        Runs runs = row_runs(picture, y, key_rgb);
        if (y > 0 && runs == band_runs) {
            continue;
        }
        close_band(y);
        band_runs = std::move(runs);
        band_top = y;
    }
    close_band(picture.height());
    return rectangles;
}

QByteArray rectangle_list_bytes(const QVector<QRect>& rectangles) {
    const int count = int(rectangles.size());
    QByteArray bytes(kHeaderSize + kRectangleSize * count, '\0');
    put(bytes, 0, kHeaderSize);
    put(bytes, 4, kRectangleType);
    put(bytes, 8, count);
    put(bytes, 12, kRectangleSize * count);
    QRect bounds;
    for (int k = 0; k < count; ++k) {
        const QRect& r = rectangles[k];
        bounds = bounds.united(r);
        const int at = kHeaderSize + kRectangleSize * k;
        put(bytes, at, r.left());
        put(bytes, at + 4, r.top());
        put(bytes, at + 8, r.left() + r.width());
        put(bytes, at + 12, r.top() + r.height());
    }
    put(bytes, 16, bounds.left());
    put(bytes, 20, bounds.top());
    put(bytes, 24, bounds.left() + bounds.width());
    put(bytes, 28, bounds.top() + bounds.height());
    return bytes;
}

QVector<QRect> rectangles_from_list(const QByteArray& bytes, bool* ok) {
    if (ok != nullptr) {
        *ok = false;
    }
    if (bytes.size() < kHeaderSize || get(bytes, 0) != kHeaderSize ||
        quint32(get(bytes, 4)) != kRectangleType) {
        return {};
    }
    const qint64 count = get(bytes, 8);
    if (count < 0 || get(bytes, 12) != kRectangleSize * count ||
        bytes.size() != kHeaderSize + kRectangleSize * count) {
        return {};
    }
    QVector<QRect> rectangles;
    rectangles.reserve(count);
    for (int k = 0; k < count; ++k) {
        const int at = kHeaderSize + kRectangleSize * k;
        const qint64 left = get(bytes, at);
        const qint64 top = get(bytes, at + 4);
        const qint64 right = get(bytes, at + 8);
        const qint64 bottom = get(bytes, at + 12);
        if (right <= left || bottom <= top || std::abs(left) > kCoordinateLimit ||
            std::abs(top) > kCoordinateLimit || std::abs(right) > kCoordinateLimit ||
            std::abs(bottom) > kCoordinateLimit) {
            return {};
        }
        rectangles.append(QRect(int(left), int(top), int(right - left), int(bottom - top)));
    }
    if (ok != nullptr) {
        *ok = true;
    }
    return rectangles;
}

}  // namespace ostrel
