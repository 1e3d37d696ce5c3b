#include "notify/nota_form.h"

#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <cmath>
#include <exception>

#include "core/event_log.h"
#include "desktop/drag_surface.h"
#include "desktop/popup_placement.h"
#include "desktop/window_shape.h"
#include "notify/close_picture.h"
#include "notify/elided_line.h"
#include "notify/remetentes.h"

namespace ostrel {

namespace {

constexpr int kTwipsPerPixel = 15;
constexpr int kRightGapTwips = 20;
constexpr int kBottomGapTwips = 850;

// To the nearest pixel, on both sides of the screen's origin.
int twips_to_pixels(int twips) {
    return int(std::lround(double(twips) / kTwipsPerPixel));
}

QLabel* make_line(QWidget* parent, const char* name, const QRect& place) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(place);
    // Taller when the text needs it (fit_line_height).
    label->setMinimumHeight(place.height());
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Senders and subjects come from servers: shown as they stand, never as markup.
    label->setTextFormat(Qt::PlainText);
    return label;
}

}  // namespace

QPoint nota_position(const QSize& screen, const QSize& window) {
    const int left =
        screen.width() * kTwipsPerPixel - window.width() * kTwipsPerPixel - kRightGapTwips;
    const int top =
        screen.height() * kTwipsPerPixel - window.height() * kTwipsPerPixel - kBottomGapTwips;
    return {twips_to_pixels(left), twips_to_pixels(top)};
}

NotaForm::NotaForm(EventLog& log, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::Tool | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus),
      log_(log) {
    keep_popup_in_place(this);
    setObjectName(QStringLiteral("nota_form"));
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);
    // The window never becomes active, and Qt shows tool tips (the whole
    // text of a cut line) only on the active window unless told so.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    setFixedSize(195, 98);
    QFont small = font();
    small.setPixelSize(11);
    setFont(small);
    setStyleSheet(QStringLiteral("QLabel { color: #1d2733; }"));

    Picture1 = make_close_picture(this, QRect(176, 0, 20, 20));
    Label1 = make_line(this, "Label1", QRect(8, 16, 177, 17));
    Label2 = make_line(this, "Label2", QRect(8, 32, 177, 17));
    // The server line may run to the window's edge.
    Label3 = make_line(this, "Label3", QRect(8, 48, 187, 13));
    Label4 = make_line(this, "Label4", QRect(8, 64, 169, 17));
    Label2->setStyleSheet(QStringLiteral("QLabel { font-weight: bold; }"));

    Command1 = new QPushButton(QStringLiteral("See Senders"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(0, 80, 89, 17);
    Command1->setFocusPolicy(Qt::NoFocus);
    Command1->setCursor(Qt::PointingHandCursor);
    Command1->setStyleSheet(
        QStringLiteral("QPushButton { color: white; background: #2f6bc4; border: none;"
                       " border-top-right-radius: 4px; font-size: 10px; padding: 0 4px; }"
                       "QPushButton:hover { background: #3b7dd8; }"
                       "QPushButton:pressed { background: #24569f; }"));

    Label5 = make_line(this, "Label5", QRect(168, 88, 25, 9));
    Label5->setText(QStringLiteral("Label5"));
    Label5->setVisible(false);

    connect(Command1, &QPushButton::clicked, this,
            [this] { novaform2(QStringLiteral("remete"), Label5->text(), Label3->text()); });
    make_drag_surface(this, this);
}

NotaForm::~NotaForm() = default;

bool NotaForm::event(QEvent* event) {
    // A label whose text changed asks for a new layout: each line is made
    // tall enough for the scripts its text is drawn in.
    if (event->type() == QEvent::LayoutRequest) {
        for (QLabel* line : {Label1, Label2, Label3, Label4}) {
            fit_line_height(line);
        }
    }
    return QWidget::event(event);
}

void NotaForm::load() {
    const QRect area = primary_popup_area();
    if (!area.isEmpty()) {
        move(area.topLeft() + nota_position(area.size(), size()));
    }
    apply_shape(this, ShapedWindow::NotaForm);
    // A new window is shown above the older ones; the hint keeps it above
    // ordinary windows.
    show();
}

void NotaForm::show_new_mail(const QString& date_time, int count, const QString& server,
                             const QString& senders) {
    Label1->setText(date_time);
    Label2->setText(QStringLiteral("You have  ") + QString::number(count) +
                    QStringLiteral(" new message(s)"));
    Label3->setText(server);
    Label5->setText(senders);
    Command1->setVisible(true);
}

void NotaForm::show_match(const QString& word, const QString& from, const QString& subject,
                          const QString& server) {
    Label1->setText(QStringLiteral("One message Match: ") + word);
    set_elided_text(Label2, QStringLiteral("From: ") + from, word);
    set_elided_text(Label3, QStringLiteral("Subject: ") + subject, word);
    Label4->setText(server);
    Command1->setVisible(false);
}

void NotaForm::show_sign_in_again(const QString& date_time, const QString& login,
                                  const QString& server) {
    Label1->setText(date_time);
    Label2->setText(QStringLiteral("Sign in again"));
    set_elided_text(Label3, login + QLatin1Char('@') + server);
    Label4->setText(QStringLiteral("Pop3 Accounts: Sign in…"));
    Command1->setVisible(false);
}

Remetentes* NotaForm::novaform2(const QString& formname, const QString& frase,
                                const QString& serv) {
    try {
        // The list belongs to the main window, not to this notification: it
        // stays open when the notification is closed.
        auto* list = new Remetentes(parentWidget());
        list->setWindowTitle(formname);
        list->load();
        list->show();
        list->set_list_text(frase);
        set_elided_text(list->Label1, serv);
        return list;
    } catch (const std::exception& failure) {
        log_.log_event(QStringLiteral("Fatal Err 002 ") + QString::fromLocal8Bit(failure.what()));
    }
    return nullptr;
}

}  // namespace ostrel
