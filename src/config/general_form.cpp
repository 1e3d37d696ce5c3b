#include "config/general_form.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "config/general_settings.h"
#include "desktop/autostart_entry.h"
#include "desktop/drag_surface.h"
#include "desktop/window_shape.h"

namespace ostrel {

GeneralForm::GeneralForm(const AppContext& context, QString program_path, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      context_(context),
      program_path_(std::move(program_path)) {
    setObjectName(QStringLiteral("general_form"));
    setWindowTitle(QStringLiteral("General Options"));
    setFixedSize(200, 230);

    Label1 = new QLabel(QStringLiteral("Time to check"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(30, 60, 90, 22);

    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(124, 60, 44, 22);

    Check1 = new QCheckBox(QStringLiteral("Start with Windows"), this);
    Check1->setObjectName(QStringLiteral("Check1"));
    Check1->setGeometry(30, 96, 150, 22);

    Command1 = new QPushButton(QStringLiteral("Save"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(30, 150, 64, 26);

    Command4 = new QPushButton(QStringLiteral("Exit"), this);
    Command4->setObjectName(QStringLiteral("Command4"));
    Command4->setGeometry(106, 150, 64, 26);

    connect(Command1, &QPushButton::clicked, this, &GeneralForm::save);
    connect(Command4, &QPushButton::clicked, this, &GeneralForm::exit_window);

    make_drag_surface(this, this);
}

GeneralForm::~GeneralForm() = default;

void GeneralForm::load() {
    apply_shape(this, ShapedWindow::GeneralForm);
    const SettingsRead read = read_general_settings(context_.files.settings());
    if (!read.fields.isEmpty()) {
        Text1->setText(read.fields[0]);
    }
    if (!read.ok()) {
        context_.log.log_event(QStringLiteral("Fatal Err 007 ") + read.error);
        return;
    }
    const QString flag = read.fields[1];
    if (flag != QLatin1String("0") && flag != QLatin1String("1")) {
        context_.log.log_event(QStringLiteral("Fatal Err 007 line 2 of %1 is \"%2\", not 0 or 1")
                                   .arg(context_.files.settings(), flag));
        return;
    }
    Check1->setChecked(flag == QLatin1String("1"));
}

void GeneralForm::save() {
    const QString flag = Check1->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
    const QString error = write_general_settings(context_.files.settings(), {Text1->text(), flag});
    if (!error.isEmpty()) {
        context_.log.log_event(QStringLiteral("The options were not saved: ") + error);
        context_.prompt(
            QStringLiteral("The options were not saved; the old settings stay.\n") + error,
            QString(), PromptIcon::Exclamation, PromptButtons::Ok);
        return;
    }
    context_.state.start_with_windows = flag;
    const QString entry_error = apply_startup_setting(flag, program_path_, context_.files.folder);
    if (!entry_error.isEmpty()) {
        context_.log.log_event(QStringLiteral("The log-on start was not changed: ") + entry_error);
        context_.prompt(QStringLiteral("The options were saved, but the log-on start was not "
                                       "changed.\n") +
                            entry_error,
                        QString(), PromptIcon::Exclamation, PromptButtons::Ok);
    }
    close();
}

void GeneralForm::exit_window() {
    close();
}

}  // namespace ostrel
