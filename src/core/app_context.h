#pragma once

#include "core/app_state.h"
#include "core/data_files.h"
#include "core/event_log.h"
#include "core/prompt.h"

namespace ostrel {

// What most windows and procedures work with: the data files, the event log,
// the message boxes and the shared state. The main window owns all four and
// hands this down; a window that takes it can touch nothing else of the
// main window.
struct AppContext {
    const DataFiles& files;
    EventLog& log;
    const Prompt& prompt;
    AppState& state;
};

}  // namespace ostrel
