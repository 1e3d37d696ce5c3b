#include <QtEndian>
#include <QtTest>

#include "core/resources.h"
#include "desktop/region_rule.h"
#include "desktop/window_shape.h"

using namespace ostrel;

Q_DECLARE_METATYPE(ShapedWindow)

namespace {

using Rects = QVector<QRect>;

QRect ltrb(int left, int top, int right, int bottom) {
    return QRect(left, top, right - left, bottom - top);
}

Rects table_rects(ShapedWindow which) {
    bool ok = false;
    Rects rects = rectangles_from_list(region_table(which), &ok);
    return ok ? rects : Rects();
}

// A picture drawn as text: '.' is the key colour, 'n' a colour one step away
// from it, anything else a plain shape colour.
QImage picture(const QStringList& rows) {
    QImage image(int(rows.value(0).size()), int(rows.size()), QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QChar c = rows[y][x];
            image.setPixel(x, y,
                           c == '.'   ? qRgb(128, 128, 128)
                           : c == 'n' ? qRgb(128, 128, 129)
                                      : qRgb(20, 40, 60));
        }
    }
    return image;
}

}  // namespace

class WindowShapeTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { init_resources(); }

    void rule_cuts_rows_into_bands_data() {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<Rects>("expected");
        QTest::newRow("identical rows merge")
            << QStringList{"##..", "##.."} << Rects{ltrb(0, 0, 2, 2)};
        QTest::newRow("a key pixel splits a row")
            << QStringList{"#.##"} << Rects{ltrb(0, 0, 1, 1), ltrb(2, 0, 4, 1)};
        QTest::newRow("blank rows give nothing")
            << QStringList{"##", "..", "..", "##"} << Rects{ltrb(0, 0, 2, 1), ltrb(0, 3, 2, 4)};
        QTest::newRow("runs that come back start a new band")
            << QStringList{"#.", "##", "#."}
            << Rects{ltrb(0, 0, 1, 1), ltrb(0, 1, 2, 2), ltrb(0, 2, 1, 3)};
        QTest::newRow("same count, other runs")
            << QStringList{"#..#", ".##."}
            << Rects{ltrb(0, 0, 1, 1), ltrb(3, 0, 4, 1), ltrb(1, 1, 3, 2)};
        QTest::newRow("near-key colour is shape")
            << QStringList{"n.n"} << Rects{ltrb(0, 0, 1, 1), ltrb(2, 0, 3, 1)};
        QTest::newRow("only key colour") << QStringList{"...", "..."} << Rects{};
    }
    void rule_cuts_rows_into_bands() {
        QFETCH(QStringList, rows);
        QFETCH(Rects, expected);
        QCOMPARE(outline_rectangles(picture(rows), QColor(128, 128, 128)), expected);
    }

    void table_is_the_outline_of_the_picture_data() {
        QTest::addColumn<ShapedWindow>("which");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("bytes");
        QTest::addColumn<QRect>("bounds");
        QTest::newRow("nota_form")
            << ShapedWindow::NotaForm << QSize(195, 98) << 304 << ltrb(0, 0, 195, 98);
        QTest::newRow("remetentes")
            << ShapedWindow::Remetentes << QSize(178, 251) << 736 << ltrb(0, 0, 178, 251);
        QTest::newRow("general_form")
            << ShapedWindow::GeneralForm << QSize(200, 230) << 912 << ltrb(8, 6, 191, 224);
        QTest::newRow("Form9") << ShapedWindow::Form9 << QSize(399, 461) << 1568
                               << ltrb(14, 12, 380, 448);
        QTest::newRow("menu1") << ShapedWindow::Menu1 << QSize(399, 461) << 1568
                               << ltrb(14, 12, 380, 448);
    }
    void table_is_the_outline_of_the_picture() {
        QFETCH(ShapedWindow, which);
        QFETCH(QSize, size);
        QFETCH(int, bytes);
        QFETCH(QRect, bounds);
        const QImage image = shape_picture(which);
        QCOMPARE(image.size(), size);
        const QByteArray table = region_table(which);
        QCOMPARE(rectangle_list_bytes(outline_rectangles(image, shape_key_colour(which))), table);
        QCOMPARE(table.size(), bytes);
        const int count = (bytes - 32) / 16;
        const qint32 header[8] = {32,
                                  1,
                                  count,
                                  16 * count,
                                  bounds.left(),
                                  bounds.top(),
                                  bounds.right() + 1,
                                  bounds.bottom() + 1};
        for (int i = 0; i < 8; ++i) {
            QCOMPARE(qFromLittleEndian<qint32>(table.constData() + 4 * i), header[i]);
        }
        // Everything outside the outline is the key colour.
        QCOMPARE(image.pixelColor(size.width() - 1, size.height() - 1), shape_key_colour(which));

        // Dense screens get the twice-size drawing, whose outline is the
        // mask doubled; at 1.5 it is scaled down, never the normal one up.
        Rects doubled;
        for (const QRect& r : rectangles_from_list(table)) {
            doubled.append(QRect(r.topLeft() * 2, r.size() * 2));
        }
        const QImage big = shape_pixmap(which, 2.0).toImage();
        QCOMPARE(big.size(), size * 2);
        QCOMPARE(outline_rectangles(big, shape_key_colour(which)), doubled);
        const QPixmap dense = shape_pixmap(which, 1.5);
        QCOMPARE(dense.size(), (QSizeF(size) * 1.5).toSize());
        QCOMPARE(dense.devicePixelRatio(), 1.5);
    }

    void printed_tables_are_kept() {
        const Rects nota = {ltrb(0, 0, 195, 84),    ltrb(0, 84, 193, 85), ltrb(0, 85, 174, 86),
                            ltrb(175, 85, 189, 86), ltrb(0, 86, 186, 87), ltrb(0, 87, 167, 88),
                            ltrb(168, 87, 182, 88), ltrb(0, 88, 179, 89), ltrb(0, 89, 175, 90),
                            ltrb(0, 90, 172, 91),   ltrb(0, 91, 168, 92), ltrb(0, 92, 165, 93),
                            ltrb(0, 93, 161, 94),   ltrb(0, 94, 158, 95), ltrb(0, 95, 154, 96),
                            ltrb(0, 96, 151, 97),   ltrb(0, 97, 147, 98)};
        QCOMPARE(table_rects(ShapedWindow::NotaForm), nota);
        // The senders list: full body, then rows 216..250 as printed.
        const int rows[44][4] = {
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
            {0, 245, 151, 247},   {0, 247, 150, 248},   {0, 248, 149, 249},   {0, 249, 148, 251}};
        Rects remetentes;
        for (const auto& r : rows) {
            remetentes.append(ltrb(r[0], r[1], r[2], r[3]));
        }
        QCOMPARE(table_rects(ShapedWindow::Remetentes), remetentes);
    }

    void rounded_panels_have_the_named_bands_data() {
        QTest::addColumn<ShapedWindow>("which");
        QTest::addColumn<Rects>("first");
        QTest::addColumn<QRect>("full_width");
        QTest::addColumn<Rects>("last");
        QTest::newRow("general_form")
            << ShapedWindow::GeneralForm << Rects{ltrb(38, 6, 160, 7), ltrb(34, 7, 165, 8)}
            << ltrb(8, 37, 191, 193) << Rects{ltrb(36, 223, 163, 224)};
        QTest::newRow("Form9") << ShapedWindow::Form9
                               << Rects{ltrb(75, 12, 318, 13), ltrb(70, 13, 324, 14)}
                               << ltrb(14, 74, 380, 386)
                               << Rects{ltrb(70, 446, 324, 447), ltrb(75, 447, 318, 448)};
    }
    void rounded_panels_have_the_named_bands() {
        QFETCH(ShapedWindow, which);
        QFETCH(Rects, first);
        QFETCH(QRect, full_width);
        QFETCH(Rects, last);
        const Rects rects = table_rects(which);
        QCOMPARE(rects.mid(0, first.size()), first);
        QCOMPARE(rects.mid(rects.size() - last.size()), last);
        QVERIFY(rects.contains(full_width));
        // One rectangle a band, bands touching from top to bottom, no holes.
        for (int k = 1; k < rects.size(); ++k) {
            QCOMPARE(rects[k].top(), rects[k - 1].bottom() + 1);
        }
    }

    void form9_and_menu1_share_one_outline() {
        QCOMPARE(region_table(ShapedWindow::Menu1), region_table(ShapedWindow::Form9));
        QCOMPARE(shape_picture(ShapedWindow::Menu1), shape_picture(ShapedWindow::Form9));
    }

    void key_pixels_are_outside_the_region() {
        const QRegion nota = region_from_table(region_table(ShapedWindow::NotaForm));
        QVERIFY(!nota.contains(QPoint(174, 85)));
        QVERIFY(!nota.contains(QPoint(167, 87)));
        QVERIFY(!nota.contains(QPoint(194, 97)));
        QVERIFY(nota.contains(QPoint(173, 85)) && nota.contains(QPoint(175, 85)));
        QVERIFY(nota.contains(QPoint(194, 83)) && nota.contains(QPoint(146, 97)));
        QCOMPARE(shape_picture(ShapedWindow::NotaForm).pixelColor(174, 85), QColor(128, 128, 128));
    }

    void malformed_tables_give_no_region_data() {
        QTest::addColumn<QByteArray>("table");
        const QByteArray good = region_table(ShapedWindow::NotaForm);
        auto with = [&](int offset, qint32 value) {
            QByteArray bytes = good;
            qToLittleEndian<qint32>(value, bytes.data() + offset);
            return bytes;
        };
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("cut short") << good.left(good.size() - 1);
        QTest::newRow("trailing bytes") << good + QByteArray(16, '\0');
        QTest::newRow("header size") << with(0, 28);
        QTest::newRow("type") << with(4, 2);
        QTest::newRow("count beyond the data") << with(8, 18);
        QTest::newRow("negative count") << with(8, -1);
        QTest::newRow("list size") << with(12, 16);
        QTest::newRow("empty rectangle") << with(32 + 8, 0);
        QTest::newRow("huge coordinate") << with(32 + 8, 0x7fffffff);
    }
    void malformed_tables_give_no_region() {
        QFETCH(QByteArray, table);
        bool ok = true;
        QVERIFY(rectangles_from_list(table, &ok).isEmpty());
        QVERIFY(!ok);
        QVERIFY(region_from_table(table).isEmpty());
    }

    void applied_shape_masks_and_paints_the_window() {
        QWidget window;
        window.setFixedSize(195, 98);
        apply_shape(&window, ShapedWindow::NotaForm);
        QCOMPARE(window.mask(), region_from_table(region_table(ShapedWindow::NotaForm)));
        apply_shape(&window, ShapedWindow::NotaForm);  // a second time replaces, not stacks
        const QImage shown = window.grab().toImage();
        const QImage image = shape_picture(ShapedWindow::NotaForm);
        QCOMPARE(shown.pixelColor(100, 8), image.pixelColor(100, 8));
        QCOMPARE(shown.pixelColor(30, 70), image.pixelColor(30, 70));
    }

    void tray_and_close_pictures_have_their_sizes_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("side");
        QTest::newRow("normal") << ":/tray_normal.png" << 48;
        QTest::newRow("alternate") << ":/tray_alternate.png" << 48;
        QTest::newRow("error") << ":/tray_error.png" << 32;
        QTest::newRow("close") << ":/close.png" << 16;
    }
    void tray_and_close_pictures_have_their_sizes() {
        QFETCH(QString, file);
        QFETCH(int, side);
        QCOMPARE(QImage(file).size(), QSize(side, side));
    }
};

QTEST_MAIN(WindowShapeTest)
#include "window_shape_test.moc"
