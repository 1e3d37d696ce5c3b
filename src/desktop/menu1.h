#pragma once

#include <QWidget>
#include <functional>

#include "core/app_context.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace ostrel {

// What the log viewer's hidden buttons run.
struct Menu1Actions {
    std::function<void()> check_now;  // Command2, "executa"
    std::function<void()> nota_show;  // Command3, "Nota show"
};

// The log viewer: the whole log as it was when the window loaded, with Clear
// Log and Exit. Checks keep to the main window's schedule while it is open.
class Menu1 : public QWidget {
    Q_OBJECT
public:
    Menu1(const AppContext& context, Menu1Actions actions, QWidget* parent = nullptr);
    ~Menu1() override;

    // The window's load: shape, then the log read into the text box once.
    void load();

    // Replaces the log with its "File created!" line and loads it again. When
    // the log cannot be rewritten the old log and the shown text stay.
    void clear_log();
    void exit_window();

    QLabel* Label1;         // transparent strip at the top: the window's drag surface
    QPlainTextEdit* Text2;  // the log as it was at the load
    QPushButton* Command1;  // "Clear Log"
    QPushButton* Command4;  // "Exit"
    QPushButton* Command2;  // "executa", below the outline: runs a check
    QPushButton* Command3;  // "Nota show", below the outline: shows the shared popup

private:
    AppContext context_;
    Menu1Actions actions_;
};

}  // namespace ostrel
