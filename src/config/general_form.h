#pragma once

#include <QString>
#include <QWidget>

#include "core/app_context.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace ostrel {

// The general options: the check interval and the log-on start, shown from
// the settings file and written back by Save, which also makes or removes the
// log-on entry that starts `program_path`.
class GeneralForm : public QWidget {
    Q_OBJECT
public:
    GeneralForm(const AppContext& context, QString program_path, QWidget* parent = nullptr);
    ~GeneralForm() override;

    // The window's load: shape, then the two settings read into the controls.
    void load();

    // Writes the file, sets start_with_windows, applies the log-on entry and
    // closes. When the file cannot be written nothing changes and the window
    // stays open.
    void save();
    void exit_window();

    QLabel* Label1;         // "Time to check", names Text1
    QLineEdit* Text1;       // minutes between checks, as typed
    QCheckBox* Check1;      // "Start with Windows": the log-on entry
    QPushButton* Command1;  // "Save"
    QPushButton* Command4;  // "Exit": closes, writes nothing

private:
    AppContext context_;
    QString program_path_;
};

}  // namespace ostrel
