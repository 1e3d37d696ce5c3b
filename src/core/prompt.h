#pragma once

#include <QString>
#include <functional>

namespace ostrel {

enum class PromptIcon { None, Exclamation, Question, Information, Critical };
enum class PromptButtons { Ok, YesNo };
enum class PromptAnswer { Ok, Yes, No };

// Every message box goes through a Prompt, so tests can answer it.
using Prompt = std::function<PromptAnswer(const QString& text, const QString& title, PromptIcon,
                                          PromptButtons)>;

}  // namespace ostrel
