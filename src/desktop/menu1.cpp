#include "desktop/menu1.h"

#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include "desktop/drag_surface.h"
#include "desktop/log_text.h"
#include "desktop/window_shape.h"

namespace ostrel {

namespace {

QPushButton* make_button(QWidget* parent, const char* name, const QRect& place) {
    auto* button = new QPushButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(place);
    return button;
}

}  // namespace

Menu1::Menu1(const AppContext& context, Menu1Actions actions, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint),
      context_(context),
      actions_(std::move(actions)) {
    setObjectName(QStringLiteral("menu1"));
    setWindowTitle(QStringLiteral("View Log"));
    setFixedSize(399, 517);

    // The buttons below the outline exist but are never seen, so they never
    // take the focus: Space or Enter must not run them unseen.
    Command3 = make_button(this, "Command3", QRect(200, 472, 113, 33));
    Command3->setText(QStringLiteral("Nota show"));
    Command3->setFocusPolicy(Qt::NoFocus);
    Command2 = make_button(this, "Command2", QRect(40, 472, 97, 33));
    Command2->setText(QStringLiteral("executa"));
    Command2->setFocusPolicy(Qt::NoFocus);

    Text2 = new QPlainTextEdit(this);
    Text2->setObjectName(QStringLiteral("Text2"));
    Text2->setGeometry(24, 104, 345, 289);
    Text2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text2->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Text2->setLineWrapMode(QPlainTextEdit::WidgetWidth);

    // A transparent strip at the top: the only place that drags the window.
    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(72, 32, 257, 73);
    Label1->setAttribute(Qt::WA_TranslucentBackground);

    Command4 = make_button(this, "Command4", QRect(296, 400, 33, 33));
    Command4->setToolTip(QStringLiteral("Exit"));
    Command4->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
    Command4->setIconSize(QSize(24, 24));

    Command1 = make_button(this, "Command1", QRect(264, 400, 33, 33));
    Command1->setToolTip(QStringLiteral("Clear Log"));
    Command1->setIcon(style()->standardIcon(QStyle::SP_TrashIcon));
    Command1->setIconSize(QSize(24, 24));

    setTabOrder(Command3, Command2);
    setTabOrder(Command2, Text2);
    setTabOrder(Text2, Command4);
    setTabOrder(Command4, Command1);

    connect(Command1, &QPushButton::clicked, this, &Menu1::clear_log);
    connect(Command4, &QPushButton::clicked, this, &Menu1::exit_window);
    connect(Command2, &QPushButton::clicked, this, [this] { actions_.check_now(); });
    connect(Command3, &QPushButton::clicked, this, [this] { actions_.nota_show(); });

    make_drag_surface(Label1, this);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
}

Menu1::~Menu1() = default;

void Menu1::load() {
    apply_shape(this, ShapedWindow::Menu1);
    Text2->setFocus();
    QFile file(context_.files.log());
    if (!file.open(QIODevice::ReadOnly)) {
        // No log to read: the box keeps what it shows (nothing on a fresh load).
        return;
    }
    Text2->setPlainText(log_viewer_text(file.readAll()));
}

void Menu1::clear_log() {
    const QString error = rewrite_log_as_created(context_.files.log());
    if (!error.isEmpty()) {
        context_.log.log_event(QStringLiteral("The log was not cleared: ") + error);
        context_.prompt(
            QStringLiteral("The log could not be cleared; it is left as it was.\n") + error,
            QString(), PromptIcon::Exclamation, PromptButtons::Ok);
        return;
    }
    Text2->clear();
    load();
}

void Menu1::exit_window() {
    close();
}

}  // namespace ostrel
