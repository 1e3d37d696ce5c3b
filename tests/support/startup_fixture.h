#pragma once

#include <QString>
#include <QTemporaryDir>
#include <memory>

#include "app/form1.h"
#include "app/startup_files.h"
#include "core/resources.h"
#include "core/single_instance.h"
#include "desktop/tray_icon.h"
#include "desktop/tray_menu.h"
#include "support/context_fixture.h"

namespace ostrel::testing {

// A fresh program folder as the program starts in it, with its own lock and
// its own autostart folder. The main window is made on it at the first call
// of window(), with the recording prompt.
struct StartupFixture : ContextFixture {
    explicit StartupFixture(Timings timings = Timings())
        : instance(std::make_unique<SingleInstance>(folder.path() + QStringLiteral(".lock"))),
          timings(timings) {
        init_resources();
        qputenv("XDG_CONFIG_HOME", config_home.path().toUtf8());
    }

    // The start-up's data-file steps alone, on the context, without a window.
    void init_data_files() { ostrel::init_data_files(context, program_path()); }
    Form1& window() {
        if (!form) {
            form = std::make_unique<Form1>(folder.path(), program_path(), prompt, timings);
        }
        return *form;
    }
    bool load() { return window().load(*instance); }
    TrayIcon& tray() { return *window().findChild<TrayIcon*>(); }
    TrayMenu& tray_menu() { return *window().findChild<TrayMenu*>(); }
    QString program_path() const { return folder.file(QStringLiteral("Ostrel")); }
    QString autostart_entry() const {
        return config_home.path() + QStringLiteral("/autostart/Ostrel.desktop");
    }

    QTemporaryDir config_home;
    std::unique_ptr<SingleInstance> instance;
    Timings timings;
    std::unique_ptr<Form1> form;
};

}  // namespace ostrel::testing
