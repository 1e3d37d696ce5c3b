// The notification popups and the senders lists they open.
#include <QtTest>
#include <QtWidgets>

#include "core/event_log.h"
#include "core/resources.h"
#include "desktop/window_shape.h"
#include "notify/elided_line.h"
#include "notify/nota_form.h"
#include "notify/nota_manager.h"
#include "notify/nota_slots.h"
#include "notify/remetentes.h"
#include "support/temp_folder.h"

using namespace ostrel;

namespace {

// The popups' manager and their owner, as the main window holds them.
struct Main {
    testing::TempProgramFolder folder;
    EventLog log{folder.file("logfile.txt")};
    QWidget owner;
    NotaManager notes{log, &owner};
};

QRect screen_area() {
    return QGuiApplication::primaryScreen()->geometry();
}

QList<Remetentes*> senders_windows() {
    QList<Remetentes*> found;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* list = qobject_cast<Remetentes*>(w); list != nullptr && list->isVisible()) {
            found << list;
        }
    }
    return found;
}

void close_by_picture(QWidget* window) {
    QTest::mouseClick(window->findChild<QLabel*>("Picture1"), Qt::LeftButton, {}, QPoint(10, 8));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Presses on `surface` at `at`, moves the mouse by `by` with the button held
// and releases; returns how far `window` moved.
QPoint drag(QWidget* surface, QWidget* window, const QPoint& at, const QPoint& by) {
    const QPoint before = window->pos();
    const auto send = [&](QEvent::Type type, const QPoint& to, Qt::MouseButtons buttons) {
        QMouseEvent event(type, QPointF(to), QPointF(surface->mapToGlobal(to)),
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                          Qt::NoModifier);
        QApplication::sendEvent(surface, &event);
    };
    send(QEvent::MouseButtonPress, at, Qt::LeftButton);
    send(QEvent::MouseMove, at + by / 2, Qt::LeftButton);
    send(QEvent::MouseMove, at + by - (window->pos() - before), Qt::LeftButton);
    send(QEvent::MouseButtonRelease, at + by - (window->pos() - before), Qt::NoButton);
    return window->pos() - before;
}

// How many device pixel rows from its top a label of `height` draws into,
// on a screen of device pixel ratio `ratio`.
int drawn_rows(QLabel* label, int height, qreal ratio) {
    const int kept = label->height();
    label->resize(label->width(), height);
    QImage image(label->size() * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    label->render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    label->resize(label->width(), kept);
    for (int y = image.height() - 1; y >= 0; --y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) != 0) {
                return y + 1;
            }
        }
    }
    return 0;
}

}  // namespace

class PopupWindowsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { init_resources(); }

    // Each notification gets its own slot and the same place; See Senders opens
    // a new list each time; closing one window leaves the others.
    void notifications_and_their_senders_lists() {
        QCOMPARE(nota_position({1920, 1080}), QPoint(1724, 925));
        QCOMPARE(nota_position({1366, 768}), QPoint(1170, 613));
        Main main;
        NotaForm* first = main.notes.new_nota("nota");
        NotaForm* second = main.notes.new_nota("note");
        QCOMPARE(main.notes.nota_list(0), nullptr);
        QCOMPARE(main.notes.nota_list(1), first);
        QCOMPARE(main.notes.newest(), second);
        const QRect screen = screen_area();
        for (NotaForm* nota : {first, second}) {
            QVERIFY(nota->isVisible());
            QCOMPARE(nota->pos(), screen.topLeft() + nota_position(screen.size()));
            QVERIFY(nota->windowFlags().testFlag(Qt::WindowStaysOnTopHint) &&
                    nota->windowFlags().testFlag(Qt::Tool) &&
                    nota->testAttribute(Qt::WA_ShowWithoutActivating));
            QCOMPARE(nota->mask(), region_from_table(region_table(ShapedWindow::NotaForm)));
        }
        QVERIFY(!first->Label5->isVisibleTo(first) && first->Command1->isVisibleTo(first));

        first->Label3->setText("pop.example.com");
        first->Label5->setText("\r\nAnn Example \r\nBob \r\n");
        first->Command1->click();
        first->Command1->click();
        const QList<Remetentes*> lists = senders_windows();
        QCOMPARE(lists.size(), 2);
        for (Remetentes* list : lists) {
            QCOMPARE(list->windowTitle(), QString("remete"));
            QCOMPARE(list->Label1->text(), QString("pop.example.com"));
            QCOMPARE(list->Text1->toPlainText().split('\n'),
                     QStringList({"", "Ann Example ", "Bob ", ""}));
            QCOMPARE(list->geometry().center(), screen.center());
            QVERIFY(list->Text1->isReadOnly() &&
                    !list->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
            QCOMPARE(list->mask(), region_from_table(region_table(ShapedWindow::Remetentes)));
        }
        // One sender a line, whatever ends the lines.
        const QList<QPair<QString, QStringList>> texts = {
            {"\r\nAnn \r\n\r\nCy ", {"", "Ann ", "", "Cy "}}, {"", {""}}, {"\rAnn", {"", "Ann"}}};
        for (const auto& [frase, lines] : texts) {
            QCOMPARE(second->novaform2("remete", frase, "pop.a")->Text1->toPlainText().split('\n'),
                     lines);
        }

        QPointer<NotaForm> closed = second;
        close_by_picture(second);
        QVERIFY(closed.isNull());
        QCOMPARE(main.notes.newest(), nullptr);
        QCOMPARE(main.notes.open_count(), 1);
        close_by_picture(lists[0]);
        first->close();
        QVERIFY(senders_windows().contains(lists[1]) && !senders_windows().contains(lists[0]));
        NotaForm* third = main.notes.new_nota("nota");
        QCOMPARE(main.notes.nota_list(3), third);
        QCOMPARE(third->pos(), screen.topLeft() + nota_position(screen.size()));
    }

    // The slots hold only open windows (plain objects here), so any number can come and go.
    void slots_keep_coming_past_32767() {
        NotaSlots numbered;
        QObject kept;
        for (int k = 1; k <= 40000; ++k) {
            QObject window;
            QVERIFY(numbered.add(k == 32768 ? &kept : &window));
        }
        QCOMPARE(numbered.count(), 40000);
        QCOMPARE(numbered.at(32767), nullptr);
        QCOMPARE(numbered.at(32768), &kept);
        QCOMPARE(numbered.open_count(), 1);
        QVERIFY(!numbered.add(nullptr));
        // At program end the slots go before the windows the main window frees.
        auto* early = new NotaSlots;
        QObject window;
        QVERIFY(early->add(&window));
        delete early;
    }

    // The debug popup has its corner at the centre and See Senders shows the
    // initial text. The shared window is neither counted nor listed.
    void debug_total_and_the_shared_instance() {
        Main main;
        main.notes.show_total("total pop.example.com 3");
        NotaForm* nota = main.notes.newest();
        QCOMPARE(main.notes.nota_count(), 1);
        QCOMPARE(nota->pos(), screen_area().topLeft() +
                                  QPoint(screen_area().width() / 2, screen_area().height() / 2));
        QCOMPARE(nota->Label2->text(), QString("total pop.example.com 3"));
        nota->Command1->click();
        QCOMPARE(senders_windows().size(), 1);
        QCOMPARE(senders_windows()[0]->Text1->toPlainText(), QString("Label5"));
        QVERIFY(senders_windows()[0]->Label1->text().isEmpty());

        main.notes.show_default_instance();
        NotaForm* shared = main.notes.default_instance();
        QVERIFY(shared != nullptr && shared->isVisible());
        main.notes.show_default_instance();
        QCOMPARE(main.notes.default_instance(), shared);
        QCOMPARE(main.notes.nota_count(), 1);
        close_by_picture(shared);
        QCOMPARE(main.notes.default_instance(), nullptr);
        main.notes.show_default_instance();
        QVERIFY(main.notes.default_instance() != nullptr);
    }

    // A line too long ends in "…"; a search word past that cut stays on screen.
    void cut_lines_keep_the_matched_word() {
        QFont font;
        font.setPixelSize(11);
        const QFontMetrics metrics(font);
        const QString line = "Subject: " + QString("many words ").repeated(9) + "Müller, at last";
        const QString cut = metrics.elidedText(line, Qt::ElideRight, 177);
        QVERIFY(cut.endsWith(QChar(0x2026)) && !cut.contains("Müller"));
        QCOMPARE(elide_keeping(line, "", metrics, 177), cut);
        QCOMPARE(elide_keeping(line, "words", metrics, 177), cut);
        QCOMPARE(elide_keeping("Subject: short", "short", metrics, 177), QString("Subject: short"));
        const QString kept = elide_keeping(line, "müller", metrics, 177);
        QVERIFY2(
            kept.startsWith("Subject: many") && kept.contains(QString(QChar(0x2026)) + "Müller"),
            qPrintable(kept));
        QVERIFY(metrics.horizontalAdvance(kept) <= 177);
        const QString wide = QString("w").repeated(60);
        QVERIFY(elide_keeping(line + wide, wide, metrics, 177)
                    .startsWith(QChar(0x2026) + wide.left(5)));
    }

    // Any script, at any density, shows whole: as much as a much taller label.
    void lines_hold_any_script_and_drag() {
        Main main;
        NotaForm* nota = main.notes.new_nota("nota");
        const QList<QLabel*> lines = {nota->Label1, nota->Label2, nota->Label3, nota->Label4};
        for (QLabel* line : lines) {
            set_elided_text(line, QString::fromUtf8("Subject: 会議の議事録 مرحبا 📧🎉"));
        }
        QCoreApplication::sendPostedEvents(nota, QEvent::LayoutRequest);
        for (QLabel* line : lines) {
            for (const qreal ratio : {1.0, 1.5, 2.0}) {
                QVERIFY2(drawn_rows(line, 60, ratio) <= int(line->height() * ratio),
                         qPrintable(line->objectName() + " at " + QString::number(ratio)));
            }
        }
        // Dragging by the background (below the labels) moves a window; controls do not.
        nota->Label2->setText("You have  3 new message(s)");
        Remetentes* list = nota->novaform2("remete", "\r\nAnn", "pop.example.com");
        const struct {
            QWidget *window, *surface;
            QPoint at;
            bool moves;
        } cases[] = {{nota, nota, {120, 84}, true},
                     {nota, nota->Label2, {4, 4}, false},
                     {list, list, {120, 200}, true},
                     {list, list->Label1, {4, 4}, true},
                     {list, list->Text1->viewport(), {4, 4}, false}};
        for (const auto& c : cases) {
            QCOMPARE(drag(c.surface, c.window, c.at, {-30, -20}),
                     c.moves ? QPoint(-30, -20) : QPoint());
        }
    }
};

QTEST_MAIN(PopupWindowsTest)
#include "popup_windows_test.moc"
