#pragma once

#include <QString>

#include "core/app_context.h"

namespace ostrel {

// The data files at the start: the debug switch is noted, what is missing is
// created in the fixed order accounts, log, settings, then the settings are
// read into the state and the log-on entry of `program_path` is applied. The
// first failure ends it with a "Fatal Err 003 " line in the log.
void init_data_files(const AppContext& context, const QString& program_path);

}  // namespace ostrel
