#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace ostrel {

class Form1;

// The general options: the check interval and the log-on start, shown from
// the settings file and written back by Save.
class GeneralForm : public QWidget {
    Q_OBJECT
public:
    explicit GeneralForm(Form1& form, QWidget* parent = nullptr);
    ~GeneralForm() override;

    // The window's load: shape, then the two settings read into the controls.
    void load();

    // Writes the file, sets start_with_windows, applies the log-on entry and
    // closes. When the file cannot be written nothing changes and the window
    // stays open.
    void save();
    void exit_window();

    QLabel* Label1;
    QLineEdit* Text1;
    QCheckBox* Check1;
    QPushButton* Command1;
    QPushButton* Command4;

private:
    Form1& form_;
};

}  // namespace ostrel
