#include <QtTest>

#include "core/resources.h"
#include "desktop/region_rule.h"
#include "desktop/window_shape.h"
#include "support/rows.h"

using namespace ostrel;

namespace {

// Each window's picture size and the start of the SHA-1 of its outline
// table, which the pictures must keep.
struct Shape {
    const char* name;
    ShapedWindow which;
    QSize size;
    const char* sha1;
};
const Shape kShapes[] = {
    {"nota_form", ShapedWindow::NotaForm, {195, 98}, "b4e6d0c63145afe9"},
    {"remetentes", ShapedWindow::Remetentes, {178, 251}, "1e04892366228ac0"},
    {"general_form", ShapedWindow::GeneralForm, {200, 230}, "871226a24d7a0a40"},
    {"Form9", ShapedWindow::Form9, {399, 461}, "362b7a1bdd1e06bd"},
    {"menu1", ShapedWindow::Menu1, {399, 461}, "362b7a1bdd1e06bd"},
};

}  // namespace

class WindowShapeTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { init_resources(); }

    void table_is_the_outline_of_the_picture_data() { testing::add_rows(kShapes); }
    void table_is_the_outline_of_the_picture() {
        QFETCH(Shape, row);
        const QImage image = shape_picture(row.which);
        QCOMPARE(image.size(), row.size);
        const QByteArray table = region_table(row.which);
        const QColor key = shape_key_colour(row.which);
        QCOMPARE(rectangle_list_bytes(outline_rectangles(image, key)), table);
        QCOMPARE(QCryptographicHash::hash(table, QCryptographicHash::Sha1).toHex().left(16),
                 QByteArray(row.sha1));
        // Everything outside the outline is the key colour.
        QCOMPARE(image.pixelColor(row.size.width() - 1, row.size.height() - 1), key);

        // Dense screens get the twice-size drawing, whose outline is the
        // mask doubled; at 1.5 it is scaled down, never the normal one up.
        QVector<QRect> doubled;
        for (const QRect& r : rectangles_from_list(table)) {
            doubled.append(QRect(r.topLeft() * 2, r.size() * 2));
        }
        const QImage big = shape_pixmap(row.which, 2.0).toImage();
        QCOMPARE(big.size(), row.size * 2);
        QCOMPARE(outline_rectangles(big, key), doubled);
        const QPixmap dense = shape_pixmap(row.which, 1.5);
        QCOMPARE(dense.size(), (QSizeF(row.size) * 1.5).toSize());
        QCOMPARE(dense.devicePixelRatio(), 1.5);
    }

    // A damaged header, count or rectangle gives no region at all.
    void malformed_tables_give_no_region() {
        const QByteArray good = region_table(ShapedWindow::NotaForm);
        QList<QByteArray> tables = {QByteArray(), good.left(good.size() - 1)};
        for (const auto& [offset, value] : QList<QPair<int, qint32>>{
                 {0, 28}, {8, 18}, {8, -1}, {32 + 8, 0}, {32 + 8, 0x7fffffff}}) {
            tables << good;
            qToLittleEndian<qint32>(value, tables.last().data() + offset);
        }
        for (const QByteArray& table : tables) {
            bool ok = true;
            QVERIFY(rectangles_from_list(table, &ok).isEmpty() && !ok &&
                    region_from_table(table).isEmpty());
        }
    }

    void applied_shape_masks_and_paints_the_window() {
        QWidget window;
        window.setFixedSize(195, 98);
        apply_shape(&window, ShapedWindow::NotaForm);
        QVERIFY(!window.mask().contains(QPoint(174, 85)) &&
                window.mask().contains(QPoint(173, 85)));
        apply_shape(&window, ShapedWindow::NotaForm);  // a second time replaces, not stacks
        const QImage shown = window.grab().toImage();
        const QImage image = shape_picture(ShapedWindow::NotaForm);
        for (const QPoint& at : {QPoint(100, 8), QPoint(30, 70)}) {
            QCOMPARE(shown.pixelColor(at), image.pixelColor(at));
        }
        for (const char* file : {":/tray_normal.png", ":/tray_alternate.png", ":/tray_error.png"}) {
            QVERIFY2(!QImage(file).isNull(), file);
        }
        QCOMPARE(close_picture().size(), QSize(16, 16));
    }
};

QTEST_MAIN(WindowShapeTest)
#include "window_shape_test.moc"
