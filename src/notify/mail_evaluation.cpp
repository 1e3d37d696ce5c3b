#include "notify/mail_evaluation.h"

#include <QTextEdit>

#include "core/form1.h"

namespace ostrel {

void process_headers(Form1& form) {
    AppState& state = form.state();
    QString trace = form.Text1->toPlainText();
    for (int k = 0; k < state.messages.size(); ++k) {
        trace += QStringLiteral("\r\n ") + QString::number(k + 1) + QStringLiteral(" - ") +
                 state.messages.msg_from[k] + QStringLiteral(" - ") + state.messages.msg_subject[k];
    }
    form.Text1->setPlainText(trace);
    state.messages.clear();
}

}  // namespace ostrel
