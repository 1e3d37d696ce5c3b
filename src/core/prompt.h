#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace ostrel {

enum class PromptIcon { None, Exclamation, Question, Information, Critical };
enum class PromptButtons { Ok, YesNo };
enum class PromptAnswer { Ok, Yes, No };

// Every message box goes through a Prompt, so tests can answer it.
using Prompt = std::function<PromptAnswer(const QString& text, const QString& title, PromptIcon,
                                          PromptButtons)>;

// The real one: a modal QMessageBox. An empty title leaves the application's name.
Prompt message_box_prompt(QWidget* parent = nullptr);

}  // namespace ostrel
