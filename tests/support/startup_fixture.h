#pragma once

#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <memory>

#include "app/form1.h"
#include "core/single_instance.h"
#include "support/temp_folder.h"

namespace ostrel::testing {

// Timings for a check in a test: a fast blink and the given reply time-out.
inline Timings check_timings(int reply_timeout_ms) {
    Timings timings;
    timings.blink_ms = 50;
    timings.reply_timeout_ms = reply_timeout_ms;
    return timings;
}

// A main window on a fresh program folder, with its own lock, its own
// autostart folder and a prompt that records instead of asking anyone.
class StartupFixture {
public:
    explicit StartupFixture(Timings timings = Timings());

    TempProgramFolder folder;
    QTemporaryDir config_home;
    std::unique_ptr<SingleInstance> instance;
    std::unique_ptr<Form1> form;
    QStringList prompts;
    PromptAnswer answer = PromptAnswer::Ok;  // how every box is answered
    std::function<void()> while_prompting;   // runs while a box would be open

    bool load() { return form->load(*instance); }
    QString autostart_entry() const {
        return config_home.path() + QStringLiteral("/autostart/Ostrel.desktop");
    }
};

}  // namespace ostrel::testing
