#include "app/startup_files.h"

#include <QFile>

#include "config/accounts_file.h"
#include "config/general_settings.h"
#include "core/date_time_text.h"
#include "core/whole_file.h"
#include "desktop/autostart_entry.h"

namespace ostrel {

namespace {

// A failure of one start-up step; its text goes to the log after "Fatal Err 003 ".
struct StartupFailure {
    QString description;
};

void init_data_files_steps(const AppContext& context, const QString& program_path) {
    const DataFiles& files = context.files;
    AppState& state = context.state;
    if (!ordinary_file_exists(files.accounts())) {
        const QString error = create_empty_accounts_file(files.accounts());
        if (!error.isEmpty()) {
            throw StartupFailure{error};
        }
    }
    if (!ordinary_file_exists(files.log())) {
        context.log.log_event(date_time_text() + QStringLiteral(" File created!"));
        if (!ordinary_file_exists(files.log())) {
            throw StartupFailure{QStringLiteral("cannot create ") + files.log()};
        }
    }
    if (!ordinary_file_exists(files.settings())) {
        QFile file(files.settings());
        if (!open_owner_only(file, QIODevice::WriteOnly | QIODevice::NewOnly) ||
            file.write(kDefaultGeneralSettings) < 0 || !file.flush()) {
            throw StartupFailure{
                QStringLiteral("cannot create %1: %2").arg(files.settings(), file.errorString())};
        }
    }
    const SettingsRead settings = read_general_settings(files.settings());
    if (!settings.fields.isEmpty()) {
        state.check_interval = settings.fields[0];
    }
    if (!settings.ok()) {
        throw StartupFailure{settings.error};
    }
    state.start_with_windows = settings.fields[1];
    const QString error =
        apply_startup_setting(state.start_with_windows, program_path, files.folder);
    if (!error.isEmpty()) {
        throw StartupFailure{error};
    }
}

}  // namespace

void init_data_files(const AppContext& context, const QString& program_path) {
    context.state.debug_mode = ordinary_file_exists(context.files.debug_switch());
    try {
        init_data_files_steps(context, program_path);
    } catch (const StartupFailure& failure) {
        context.log.log_event(QStringLiteral("Fatal Err 003 ") + failure.description);
    }
}

}  // namespace ostrel
