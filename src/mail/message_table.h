#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

namespace ostrel {

// What the user reads of one message's sender and subject.
struct DisplayValues {
    QString from;
    QString subject;
    QString sender;  // as the senders list shows it
};

// The sender and subject of every message of the account being checked; entry
// k - 1 belongs to message k. It grows to whatever the server holds. The raw
// columns keep the bytes as they arrived (one character a byte); `display`
// holds what the user reads of them.
struct MessageTable {
    QVector<qint64> msg_num;
    QStringList msg_from;
    QStringList msg_subject;
    QVector<DisplayValues> display;

    int size() const { return msg_num.size(); }
    // Message k's header block arrived in this check.
    bool filled(qint64 k) const { return k >= 1 && k <= size() && msg_num[k - 1] != 0; }
    void store(int index, qint64 number, const QString& from, const QString& subject,
               const DisplayValues& shown);
    // What the user reads of message k (from 1); empty when it was not stored.
    DisplayValues shown(qint64 k) const;
    void clear();
};

}  // namespace ostrel
