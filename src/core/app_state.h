#pragma once

#include <QString>

namespace ostrel {

// What the program shares between its parts: one copy, owned by the main
// window. Data a check reads or makes travels as arguments, never through here.
struct AppState {
    bool debug_mode = false;     // debuga.txt was there at the start
    QString check_interval;      // minutes between checks, as the settings file says
    QString start_with_windows;  // "1" or "0": the start-up, then each Save of the options
    int minute_counter = 0;      // the schedule's ticks since the last check
    // The accounts editor has said that passwords stay in the accounts file.
    bool told_passwords_stay = false;
};

}  // namespace ostrel
