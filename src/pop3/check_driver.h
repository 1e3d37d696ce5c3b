#pragma once

#include <QObject>

namespace ostrel {

class Form1;

// One check: every account of the accounts file, in file order.
class CheckDriver : public QObject {
    Q_OBJECT
public:
    explicit CheckDriver(Form1& form);
    ~CheckDriver() override;

    void executa2();
    bool running() const { return running_; }

private:
    Form1& form_;
    bool running_ = false;
};

}  // namespace ostrel
