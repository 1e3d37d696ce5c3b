#include <QCryptographicHash>
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

}  // namespace

class WindowShapeTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { init_resources(); }

    void table_is_the_outline_of_the_picture_data() {
        QTest::addColumn<ShapedWindow>("which");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("bytes");
        QTest::addColumn<QRect>("bounds");
        QTest::addColumn<QByteArray>("sha1");  // of the table, which the pictures must keep
        QTest::newRow("nota_form") << ShapedWindow::NotaForm << QSize(195, 98) << 304
                                   << ltrb(0, 0, 195, 98) << QByteArray("b4e6d0c63145afe9");
        QTest::newRow("remetentes") << ShapedWindow::Remetentes << QSize(178, 251) << 736
                                    << ltrb(0, 0, 178, 251) << QByteArray("1e04892366228ac0");
        QTest::newRow("general_form") << ShapedWindow::GeneralForm << QSize(200, 230) << 912
                                      << ltrb(8, 6, 191, 224) << QByteArray("871226a24d7a0a40");
        QTest::newRow("Form9") << ShapedWindow::Form9 << QSize(399, 461) << 1568
                               << ltrb(14, 12, 380, 448) << QByteArray("362b7a1bdd1e06bd");
        QTest::newRow("menu1") << ShapedWindow::Menu1 << QSize(399, 461) << 1568
                               << ltrb(14, 12, 380, 448) << QByteArray("362b7a1bdd1e06bd");
    }
    void table_is_the_outline_of_the_picture() {
        QFETCH(ShapedWindow, which);
        QFETCH(QSize, size);
        QFETCH(int, bytes);
        QFETCH(QRect, bounds);
        QFETCH(QByteArray, sha1);
        const QImage image = shape_picture(which);
        QCOMPARE(image.size(), size);
        const QByteArray table = region_table(which);
        QCOMPARE(rectangle_list_bytes(outline_rectangles(image, shape_key_colour(which))), table);
        QCOMPARE(table.size(), bytes);
        QCOMPARE(QCryptographicHash::hash(table, QCryptographicHash::Sha1).toHex().left(16), sha1);
        const int count = (bytes - 32) / 16;
        QList<qint32> header;
        for (int i = 0; i < 8; ++i) {
            header << qFromLittleEndian<qint32>(table.constData() + 4 * i);
        }
        QCOMPARE(header, (QList<qint32>{32, 1, count, 16 * count, bounds.left(), bounds.top(),
                                        bounds.right() + 1, bounds.bottom() + 1}));
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
        QTest::newRow("header size") << with(0, 28);
        QTest::newRow("count beyond the data") << with(8, 18);
        QTest::newRow("negative count") << with(8, -1);
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
        QVERIFY(!window.mask().contains(QPoint(174, 85)) &&
                window.mask().contains(QPoint(173, 85)));
        apply_shape(&window, ShapedWindow::NotaForm);  // a second time replaces, not stacks
        const QImage shown = window.grab().toImage();
        const QImage image = shape_picture(ShapedWindow::NotaForm);
        QCOMPARE(shown.pixelColor(100, 8), image.pixelColor(100, 8));
        QCOMPARE(shown.pixelColor(30, 70), image.pixelColor(30, 70));
        for (const char* file : {":/tray_normal.png", ":/tray_alternate.png", ":/tray_error.png"}) {
            QVERIFY2(!QImage(file).isNull(), file);
        }
        QCOMPARE(close_picture().size(), QSize(16, 16));
    }
};

QTEST_MAIN(WindowShapeTest)
#include "window_shape_test.moc"
