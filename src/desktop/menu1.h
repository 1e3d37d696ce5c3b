#pragma once

#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace ostrel {

class Form1;

// The log viewer: the whole log as it was when the window loaded, with Clear
// Log and Exit. Checks keep to the main window's schedule while it is open.
class Menu1 : public QWidget {
    Q_OBJECT
public:
    explicit Menu1(Form1& form, QWidget* parent = nullptr);
    ~Menu1() override;

    // The window's load: shape, then the log read into the text box once.
    void load();

    // Replaces the log with its "File created!" line and loads it again. When
    // the log cannot be rewritten the old log and the shown text stay.
    void clear_log();
    void exit_window();

    QLabel* Label1;
    QPlainTextEdit* Text2;
    QPushButton* Command1;
    QPushButton* Command4;
    QPushButton* Command2;
    QPushButton* Command3;

private:
    Form1& form_;
};

}  // namespace ostrel
