#include "core/app_state.h"

namespace ostrel {

void MessageTable::store(int index, qint64 number, const QString& from, const QString& subject) {
    if (index < 0) {
        return;
    }
    if (index >= msg_num.size()) {
        msg_num.resize(index + 1);
        while (msg_from.size() <= index) {
            msg_from.append(QString());
            msg_subject.append(QString());
        }
    }
    msg_num[index] = number;
    msg_from[index] = from;
    msg_subject[index] = subject;
}

void MessageTable::clear() {
    msg_num.clear();
    msg_from.clear();
    msg_subject.clear();
}

}  // namespace ostrel
