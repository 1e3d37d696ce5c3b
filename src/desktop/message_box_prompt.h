#pragma once

#include "core/prompt.h"

class QWidget;

namespace ostrel {

// The real prompt: a modal QMessageBox. An empty title leaves the application's name.
Prompt message_box_prompt(QWidget* parent = nullptr);

}  // namespace ostrel
