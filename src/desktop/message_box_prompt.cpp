#include "desktop/message_box_prompt.h"

#include <QApplication>
#include <QMessageBox>

namespace ostrel {

namespace {

QMessageBox::Icon box_icon(PromptIcon icon) {
    switch (icon) {
        case PromptIcon::Exclamation:
            return QMessageBox::Warning;
        case PromptIcon::Question:
            return QMessageBox::Question;
        case PromptIcon::Information:
            return QMessageBox::Information;
        case PromptIcon::Critical:
            return QMessageBox::Critical;
        case PromptIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

Prompt message_box_prompt(QWidget* parent) {
    return [parent](const QString& text, const QString& title, PromptIcon icon,
                    PromptButtons buttons) {
        const QString caption = title.isEmpty() ? QApplication::applicationName() : title;
        QMessageBox box(
            box_icon(icon), caption, text,
            buttons == PromptButtons::YesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
            parent);
        // Error texts may quote file names or server words: never markup.
        box.setTextFormat(Qt::PlainText);
        const int answer = box.exec();
        if (buttons == PromptButtons::Ok) {
            return PromptAnswer::Ok;
        }
        return answer == QMessageBox::Yes ? PromptAnswer::Yes : PromptAnswer::No;
    };
}

}  // namespace ostrel
