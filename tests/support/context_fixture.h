#pragma once

#include <QStringList>
#include <functional>

#include "core/app_context.h"
#include "core/date_time_text.h"
#include "support/temp_folder.h"

namespace ostrel::testing {

// A fresh program folder with what windows and procedures take: its data
// files, the event log, a prompt that records every box instead of asking
// anyone, and the shared state.
struct ContextFixture {
    TempProgramFolder folder;
    DataFiles files{folder.path()};
    int fatal_lines = 0;  // lines that show the error image in the program
    EventLog log{files.log(), [this] { ++fatal_lines; }};
    QStringList prompts;
    QStringList prompt_titles;
    PromptAnswer answer = PromptAnswer::Ok;  // how every box is answered
    std::function<void()> while_prompting;   // runs while a box would be open
    Prompt prompt = [this](const QString& text, const QString& title, PromptIcon, PromptButtons) {
        prompts << text;
        prompt_titles << title;
        if (while_prompting) {
            while_prompting();
        }
        return answer;
    };
    AppState state;
    AppContext context{files, log, prompt, state};

    QString log_text() const { return QString::fromUtf8(folder.read("logfile.txt")); }
    // The lines of the seen-state file of `server` with their dates cut off.
    QByteArrayList seen(const QString& server) const {
        QByteArrayList lines = folder.read(server + ".svr").split('\n');
        for (QByteArray& line : lines) {
            line = line.mid(date_time_text().size() + 1);
        }
        return lines;
    }
};

}  // namespace ostrel::testing
