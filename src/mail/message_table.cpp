#include "mail/message_table.h"

namespace ostrel {

void MessageTable::store(int index, qint64 number, const QString& from, const QString& subject,
                         const DisplayValues& shown) {
    if (index < 0) {
        return;
    }
    if (index >= msg_num.size()) {
        msg_num.resize(index + 1);
        display.resize(index + 1);
        while (msg_from.size() <= index) {
            msg_from.append(QString());
            msg_subject.append(QString());
        }
    }
    msg_num[index] = number;
    msg_from[index] = from;
    msg_subject[index] = subject;
    display[index] = shown;
}

DisplayValues MessageTable::shown(qint64 k) const {
    return k >= 1 && k <= display.size() ? display[k - 1] : DisplayValues();
}

void MessageTable::clear() {
    msg_num.clear();
    msg_from.clear();
    msg_subject.clear();
    display.clear();
}

}  // namespace ostrel
