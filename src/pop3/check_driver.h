#pragma once

#include <QFile>
#include <QObject>
#include <QString>
#include <QStringList>

#include "pop3/capabilities.h"

namespace ostrel {

class Form1;
class Pop3Session;
struct AccountOutcome;
struct HeaderReading;
enum class WaitResult;

// One check: every account of the accounts file, in file order, one after
// another over the one socket.
class CheckDriver : public QObject {
    Q_OBJECT
public:
    explicit CheckDriver(Form1& form);
    ~CheckDriver() override;

    // Runs one complete check. A request while a check runs is refused and
    // leaves the running check untouched.
    void executa2();
    bool running() const { return running_; }

    Pop3Session& session() { return *session_; }

private:
    void run_check();
    bool visit_account(int line_number, const QString& line);
    AccountOutcome check_account(const QStringList& fields);
    AccountOutcome greet();
    HeaderReading read_headers(qint64 count, const Capabilities& capabilities);
    void keep_header_cache(const HeaderReading& reading);
    QString header_cache_path() const;
    AccountOutcome unanswered(WaitResult result, const QString& command) const;

    void restore_after_check();
    void failure_exit(const QString& description);

    Form1& form_;
    Pop3Session* session_;
    QFile accounts_;
    CapabilityProbe capabilities_;
    bool running_ = false;
};

}  // namespace ostrel
