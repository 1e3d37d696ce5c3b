// Draws the background pictures of the shaped windows, the close picture and
// the tray images, then reads the outline of every window picture back with
// the program's own rule and writes the tables the program carries.
//
// Usage: shape_pictures <repository root>
// Writes assets/*.png (the window and close pictures also at twice the size,
// as *@2x.png) and src/desktop/shape_tables.h.

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>
#include <cstdio>
#include <functional>
#include <vector>

#include "desktop/region_rule.h"

namespace {

using Inside = std::vector<std::vector<bool>>;  // [y][x]

struct Rect {
    int left, top, right, bottom;
};

// The notification window: the full body, then a bottom edge that slopes up
// to the left, with one-pixel notches in rows 85 and 87.
const std::vector<Rect> kNotaOutline = {
    {0, 0, 195, 84},  {0, 84, 193, 85},   {0, 85, 174, 86}, {175, 85, 189, 86}, {0, 86, 186, 87},
    {0, 87, 167, 88}, {168, 87, 182, 88}, {0, 88, 179, 89}, {0, 89, 175, 90},   {0, 90, 172, 91},
    {0, 91, 168, 92}, {0, 92, 165, 93},   {0, 93, 161, 94}, {0, 94, 158, 95},   {0, 95, 154, 96},
    {0, 96, 151, 97}, {0, 97, 147, 98},
};

// The senders list: the full body down to row 216, then a bottom edge that
// narrows to the left with notches.
const std::vector<Rect> kRemetentesOutline = {
    {0, 0, 178, 216},     {0, 216, 176, 217},   {0, 217, 175, 218},   {0, 218, 158, 219},
    {159, 218, 174, 219}, {0, 219, 173, 220},   {0, 220, 164, 221},   {165, 220, 173, 221},
    {0, 221, 172, 222},   {0, 222, 171, 223},   {0, 223, 154, 224},   {155, 223, 170, 224},
    {0, 224, 153, 225},   {154, 224, 169, 225}, {0, 225, 152, 226},   {153, 225, 160, 226},
    {161, 225, 168, 226}, {0, 226, 159, 227},   {160, 226, 167, 227}, {0, 227, 167, 229},
    {0, 229, 165, 230},   {0, 230, 148, 231},   {149, 230, 164, 231}, {0, 231, 147, 232},
    {148, 231, 163, 232}, {0, 232, 162, 233},   {0, 233, 153, 234},   {154, 233, 162, 234},
    {0, 234, 161, 235},   {0, 235, 160, 236},   {0, 236, 159, 237},   {0, 237, 158, 238},
    {0, 238, 149, 239},   {150, 238, 157, 239}, {0, 239, 148, 240},   {149, 239, 156, 240},
    {0, 240, 156, 242},   {0, 242, 154, 243},   {0, 243, 153, 244},   {0, 244, 152, 245},
    {0, 245, 151, 247},   {0, 247, 150, 248},   {0, 248, 149, 249},   {0, 249, 148, 251},
};

// A rounded panel: full rows from `left` to `right` between the corners; in
// the corner rows each side is pulled in by its inset, listed from the
// outermost row (the top row for the upper corners, the bottom row for the
// lower ones) towards the straight sides.
struct RoundedPanel {
    int width, height;
    int left, top, right, bottom;  // right and bottom exclusive
    std::vector<int> top_left, top_right, bottom_left, bottom_right;
};

// Corner insets of the options window (31 rows per corner).
const RoundedPanel kGeneralPanel = {
    200,
    230,
    8,
    6,
    191,
    224,
    {30, 26, 24, 23, 21, 20, 18, 17, 16, 15, 13, 12, 11, 10, 9, 8,
     7,  6,  6,  5,  4,  4,  3,  3,  2,  2,  2,  1,  1,  1,  1},
    {31, 26, 24, 23, 21, 20, 18, 17, 15, 14, 13, 12, 11, 10, 9, 8,
     7,  6,  5,  5,  4,  3,  3,  2,  2,  2,  1,  1,  1,  1,  1},
    {28, 24, 23, 21, 20, 19, 17, 16, 15, 14, 13, 12, 11, 10, 9, 8,
     7,  6,  6,  5,  4,  4,  3,  3,  2,  2,  2,  1,  1,  1,  1},
    {28, 24, 23, 21, 20, 19, 18, 17, 15, 14, 13, 12, 11, 10, 9, 8,
     8,  7,  6,  5,  5,  4,  4,  3,  3,  2,  2,  1,  1,  1,  1},
};

// The upper corners of the accounts editor and log viewer (62 rows); the lower
// corners turn a little more steeply.
const std::vector<int> kForm9Upper = {
    61, 56, 54, 53, 51, 50, 48, 46, 45, 44, 42, 41, 39, 38, 36, 35, 34, 32, 31, 30, 29,
    28, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15, 14, 13, 12, 12, 11, 10, 9,  9,
    8,  7,  7,  6,  6,  5,  5,  4,  4,  3,  3,  2,  2,  2,  2,  1,  1,  1,  1,  1};
const std::vector<int> kForm9Lower = {
    61, 56, 54, 53, 51, 49, 48, 46, 45, 43, 42, 40, 39, 37, 36, 35, 33, 32, 31, 29, 28,
    27, 26, 25, 23, 22, 21, 20, 19, 18, 17, 16, 15, 14, 14, 13, 12, 11, 10, 10, 9,  8,
    8,  7,  6,  6,  5,  5,  4,  4,  3,  3,  3,  2,  2,  2,  2,  1,  1,  1,  1,  1};

std::vector<int> with_first(std::vector<int> insets, int first) {
    insets[0] = first;
    return insets;
}

const RoundedPanel kForm9Panel = {
    399,         461,
    14,          12,
    380,         448,
    kForm9Upper, with_first(kForm9Upper, 62),
    kForm9Lower, with_first(kForm9Lower, 62),
};

Inside from_rects(int width, int height, const std::vector<Rect>& rects) {
    Inside inside(height, std::vector<bool>(width, false));
    for (const Rect& r : rects) {
        for (int y = r.top; y < r.bottom; ++y) {
            for (int x = r.left; x < r.right; ++x) {
                inside[y][x] = true;
            }
        }
    }
    return inside;
}

Inside from_panel(const RoundedPanel& p) {
    Inside inside(p.height, std::vector<bool>(p.width, false));
    for (int y = p.top; y < p.bottom; ++y) {
        int l = p.left;
        int r = p.right;
        const int from_top = y - p.top;
        const int from_bottom = p.bottom - 1 - y;
        if (from_top < int(p.top_left.size())) {
            l += p.top_left[from_top];
            r -= p.top_right[from_top];
        } else if (from_bottom < int(p.bottom_left.size())) {
            l += p.bottom_left[from_bottom];
            r -= p.bottom_right[from_bottom];
        }
        for (int x = l; x < r; ++x) {
            inside[y][x] = true;
        }
    }
    return inside;
}

// Colours of the panels.
const QColor kAccentLight(0x3b, 0x7d, 0xd8);
const QColor kAccentDark(0x24, 0x56, 0xa6);
const QColor kBodyTop(0xfb, 0xfc, 0xfe);
const QColor kBodyBottom(0xe8, 0xee, 0xf6);
const QColor kBodyEdge(0x8a, 0x9c, 0xb5);
const QColor kAccentEdge(0x1a, 0x3f, 0x7c);
const QColor kCaption(0x56, 0x66, 0x7c);

QFont font(int pixels, bool bold) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(pixels);
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferFullHinting);
    return f;
}

// A small envelope outline, as in the tray images.
void envelope(QPainter& p, const QRectF& box, const QColor& colour, qreal pen) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(colour, pen, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(box, pen, pen);
    QPainterPath flap;
    flap.moveTo(box.left() + pen / 2, box.top() + pen / 2);
    flap.lineTo(box.center().x(), box.top() + box.height() * 0.58);
    flap.lineTo(box.right() - pen / 2, box.top() + pen / 2);
    p.drawPath(flap);
    p.restore();
}

// Body gradient, an accent header over rows [0, header_end), the window's
// own drawing, a one-pixel edge along the outline, and the key colour outside.
// At `scale` 2 the same picture is drawn at twice the size for screens of
// twice the density; its outline is the outline of the normal size, doubled.
QImage panel(const Inside& inside, int header_top, int header_end, const QColor& key, int scale,
             const std::function<void(QPainter&)>& draw) {
    const int height = int(inside.size());
    const int width = int(inside[0].size());
    QImage image(width * scale, height * scale, QImage::Format_RGB32);
    {
        QPainter p(&image);
        p.scale(scale, scale);
        QLinearGradient body(0, header_end, 0, height);
        body.setColorAt(0, kBodyTop);
        body.setColorAt(1, kBodyBottom);
        p.fillRect(QRect(0, 0, width, height), body);
        QLinearGradient header(0, header_top, 0, header_end);
        header.setColorAt(0, kAccentLight);
        header.setColorAt(1, kAccentDark);
        p.fillRect(QRect(0, 0, width, header_end), header);
        p.setPen(QColor(0xc9, 0xd6, 0xe8));
        p.drawLine(0, header_end, width, header_end);
        p.setRenderHint(QPainter::TextAntialiasing);
        draw(p);
    }
    auto in = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < width && y < height && inside[y][x];
    };
    const QRgb key_rgb = key.rgb();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const int lx = x / scale;
            const int ly = y / scale;
            if (!in(lx, ly)) {
                image.setPixel(x, y, key_rgb);
                continue;
            }
            const bool edge =
                !in(lx - 1, ly) || !in(lx + 1, ly) || !in(lx, ly - 1) || !in(lx, ly + 1);
            if (edge) {
                image.setPixel(x, y, (ly < header_end ? kAccentEdge : kBodyEdge).rgb());
            }
            // A painted pixel may never take the key colour, or the outline
            // would get a hole.
            if ((image.pixel(x, y) & 0xFFFFFFu) == (key_rgb & 0xFFFFFFu)) {
                image.setPixel(x, y, image.pixel(x, y) ^ 1u);
            }
        }
    }
    return image;
}

QImage nota_picture(int scale) {
    return panel(from_rects(195, 98, kNotaOutline), 0, 16, QColor(128, 128, 128), scale,
                 [](QPainter& p) {
                     envelope(p, QRectF(6.5, 4.5, 10, 7), Qt::white, 1.2);
                     p.setFont(font(10, true));
                     p.setPen(Qt::white);
                     p.drawText(QRect(22, 0, 140, 16), Qt::AlignLeft | Qt::AlignVCenter,
                                QStringLiteral("Ostrel"));
                 });
}

QImage remetentes_picture(int scale) {
    return panel(from_rects(178, 251, kRemetentesOutline), 0, 18, QColor(128, 128, 128), scale,
                 [](QPainter& p) {
                     p.setFont(font(10, false));
                     p.setPen(kCaption);
                     p.drawText(QRect(8, 190, 162, 16), Qt::AlignLeft | Qt::AlignVCenter,
                                QStringLiteral("Senders of the new mail"));
                     envelope(p, QRectF(8.5, 214.5, 12, 8.5), kCaption, 1.2);
                     p.setFont(font(10, true));
                     p.drawText(QRect(26, 210, 100, 16), Qt::AlignLeft | Qt::AlignVCenter,
                                QStringLiteral("Ostrel"));
                 });
}

QImage general_picture(int scale) {
    return panel(from_panel(kGeneralPanel), 6, 48, QColor(254, 254, 255), scale, [](QPainter& p) {
        p.setFont(font(13, true));
        p.setPen(Qt::white);
        p.drawText(QRect(8, 14, 183, 28), Qt::AlignCenter, QStringLiteral("General Options"));
    });
}

QImage form9_picture(int scale) {
    return panel(from_panel(kForm9Panel), 12, 52, QColor(254, 254, 254), scale, [](QPainter& p) {
        envelope(p, QRectF(150.5, 22.5, 22, 15), Qt::white, 2);
        p.setFont(font(20, true));
        p.setPen(Qt::white);
        p.drawText(QRect(180, 14, 120, 32), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("Ostrel"));
    });
}

QImage close_icon(int scale) {
    QImage image(16 * scale, 16 * scale, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.scale(scale, scale);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(255, 255, 255, 170), 1));
    p.setBrush(QColor(255, 255, 255, 56));
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    p.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(5.5, 5.5), QPointF(10.5, 10.5));
    p.drawLine(QPointF(10.5, 5.5), QPointF(5.5, 10.5));
    return image;
}

// A rounded tile in `top`..`bottom` colours with a white envelope; a light rim
// keeps it apart from dark panels, the dark outline from light ones.
QImage tray_tile(int size, const QColor& top, const QColor& bottom, bool alert) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    QLinearGradient fill(0, 0, 0, s);
    fill.setColorAt(0, top);
    fill.setColorAt(1, bottom);
    const QRectF tile(1, 1, s - 2, s - 2);
    p.setPen(QPen(QColor(255, 255, 255, 200), s / 24));
    p.setBrush(fill);
    p.drawRoundedRect(tile, s / 5, s / 5);
    p.setPen(QPen(bottom.darker(160), s / 48));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(tile.adjusted(s / 48, s / 48, -s / 48, -s / 48), s / 5, s / 5);
    const QRectF letter(s * 0.2, s * 0.28, s * 0.6, s * 0.44);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRoundedRect(letter, s / 24, s / 24);
    QPainterPath flap;
    flap.moveTo(letter.topLeft());
    flap.lineTo(letter.center().x(), letter.top() + letter.height() * 0.6);
    flap.lineTo(letter.topRight());
    p.setPen(QPen(bottom, s / 16, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);
    if (alert) {
        // An exclamation badge at the lower right.
        const QRectF badge(s * 0.52, s * 0.52, s * 0.46, s * 0.46);
        p.setPen(QPen(bottom.darker(170), s / 32));
        p.setBrush(QColor(0xff, 0xd2, 0x3f));
        p.drawEllipse(badge);
        p.setPen(QPen(QColor(0x3a, 0x10, 0x10), s / 11, Qt::SolidLine, Qt::RoundCap));
        const qreal cx = badge.center().x();
        p.drawLine(QPointF(cx, badge.top() + badge.height() * 0.24),
                   QPointF(cx, badge.top() + badge.height() * 0.56));
        p.drawPoint(QPointF(cx, badge.top() + badge.height() * 0.78));
    }
    return image;
}

bool save(const QImage& image, const QString& path) {
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

struct Window {
    const char* file;
    const char* table;
    std::function<QImage(int scale)> draw;
    QColor key;
    int count;
    QRect bounds;
    std::vector<Rect> exact;  // when set, the outline must be exactly this
};

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: shape_pictures <repository root>\n");
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    const QString assets = root.filePath(QStringLiteral("assets"));

    std::vector<Window> windows = {
        {"nota_form.png", "kNotaForm", nota_picture, QColor(128, 128, 128), 17,
         QRect(0, 0, 195, 98), kNotaOutline},
        {"remetentes.png", "kRemetentes", remetentes_picture, QColor(128, 128, 128), 44,
         QRect(0, 0, 178, 251), kRemetentesOutline},
        {"general_form.png",
         "kGeneralForm",
         general_picture,
         QColor(254, 254, 255),
         55,
         QRect(8, 6, 183, 218),
         {}},
        {"form9.png",
         "kForm9",
         form9_picture,
         QColor(254, 254, 254),
         96,
         QRect(14, 12, 366, 436),
         {}},
    };
    bool ok = save(close_icon(1), assets + QStringLiteral("/close.png")) &&
              save(close_icon(2), assets + QStringLiteral("/close@2x.png")) &&
              save(tray_tile(48, QColor(0x4c, 0x8d, 0xf0), QColor(0x1d, 0x4e, 0xc2), false),
                   assets + QStringLiteral("/tray_normal.png")) &&
              save(tray_tile(48, QColor(0xff, 0xb0, 0x2e), QColor(0xd9, 0x6a, 0x04), false),
                   assets + QStringLiteral("/tray_alternate.png")) &&
              save(tray_tile(32, QColor(0xf0, 0x4b, 0x4b), QColor(0xb4, 0x17, 0x17), true),
                   assets + QStringLiteral("/tray_error.png"));

    QString tables;
    QTextStream out(&tables);
    out << "#pragma once\n\n"
           "// Written by tools/shape_pictures from the pictures in assets/: the outline\n"
           "// of each window picture, band by band from the top. Do not edit by hand;\n"
           "// redraw the pictures and run the tool again.\n\n"
           "namespace ostrel::shape_tables {\n\n"
           "struct Rectangle {\n    int left, top, right, bottom;  // right and bottom "
           "exclusive\n};\n";
    for (const Window& w : windows) {
        const QString path = assets + QLatin1Char('/') + QLatin1String(w.file);
        QString path_2x = path;
        path_2x.replace(QStringLiteral(".png"), QStringLiteral("@2x.png"));
        ok = ok && save(w.draw(1), path) && save(w.draw(2), path_2x);
        // The table is read from the file as written, not from the drawing.
        const QVector<QRect> rects = ostrel::outline_rectangles(QImage(path), w.key);
        QVector<QRect> doubled;
        for (const QRect& r : rects) {
            doubled.append(QRect(r.topLeft() * 2, r.size() * 2));
        }
        if (ostrel::outline_rectangles(QImage(path_2x), w.key) != doubled) {
            std::fprintf(stderr, "%s: the twice-size outline is not the outline doubled\n", w.file);
            ok = false;
        }
        QRect bounds;
        for (const QRect& r : rects) {
            bounds = bounds.united(r);
        }
        if (rects.size() != w.count || bounds != w.bounds) {
            std::fprintf(stderr, "%s: %d rectangles, expected %d\n", w.file, int(rects.size()),
                         w.count);
            ok = false;
        }
        for (std::size_t k = 0; k < w.exact.size() && k < std::size_t(rects.size()); ++k) {
            const Rect& e = w.exact[k];
            if (rects[int(k)] != QRect(e.left, e.top, e.right - e.left, e.bottom - e.top)) {
                std::fprintf(stderr, "%s: rectangle %d differs\n", w.file, int(k));
                ok = false;
            }
        }
        out << "\ninline constexpr Rectangle " << w.table << "[] = {\n";
        for (const QRect& r : rects) {
            out << "    {" << r.left() << ", " << r.top() << ", " << r.left() + r.width() << ", "
                << r.top() + r.height() << "},\n";
        }
        out << "};\n";
    }
    out << "\n}  // namespace ostrel::shape_tables\n";
    out.flush();
    QFile header(root.filePath(QStringLiteral("src/desktop/shape_tables.h")));
    if (!ok || !header.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "tables not written\n");
        return 1;
    }
    header.write(tables.toUtf8());
    return 0;
}
