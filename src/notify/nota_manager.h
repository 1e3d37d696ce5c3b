#pragma once

#include <QString>

namespace ostrel {

class Form1;

// Creates and keeps the notification popups.
class NotaManager {
public:
    explicit NotaManager(Form1& form);
    ~NotaManager();

    // Debug popup with the account's message total, at the screen centre.
    void show_total(const QString& message);
    // Shows the single shared notification window (the hidden "nota show" button).
    void show_default_instance();

private:
    Form1& form_;
};

}  // namespace ostrel
