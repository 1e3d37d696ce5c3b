#pragma once

#include <QFile>
#include <QObject>
#include <QString>
#include <QStringList>

#include "check/check_controls.h"
#include "core/app_context.h"
#include "pop3/capabilities.h"
#include "pop3/connection_security.h"

namespace ostrel {

class NotaManager;
class PasswordStore;
class Pop3Session;
struct AccountOutcome;
struct HeaderReading;
enum class WaitResult;

// One check: every account of the accounts file, in file order, one after
// another over the one socket. The popups go through `notes`; `controls` are
// the main window's timers, trace, caption and tray image. An account line
// with an empty password field takes its password from `passwords`.
class CheckDriver : public QObject {
    Q_OBJECT
public:
    CheckDriver(const AppContext& context, NotaManager& notes, PasswordStore& passwords,
                CheckControls controls, QObject* parent = nullptr);
    ~CheckDriver() override;

    // Runs one complete check. A request while a check runs is refused and
    // leaves the running check untouched.
    void executa2();
    bool running() const { return running_; }

    Pop3Session& session() { return *session_; }

signals:
    // After every check that ran, however it ended.
    void check_finished();

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

    AppContext context_;
    NotaManager& notes_;
    PasswordStore& passwords_;
    CheckControls controls_;
    Pop3Session* session_;
    QFile accounts_;
    CapabilityProbe capabilities_;
    ConnectionSecurity security_;
    bool running_ = false;
};

}  // namespace ostrel
