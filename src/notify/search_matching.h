#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include "mail/message_table.h"

namespace ostrel {

// Cuts the search string at every single blank, keeping empty words.
QStringList split_search_words(const QString& search_words);

// A word matches when it is longer than one character and its upper case
// occurs in the upper case of From followed directly by Subject.
bool word_matches(const QString& word, const QString& from, const QString& subject);

struct SearchMatch {
    qint64 message = 0;  // message number, from 1
    QString word;        // as the user typed it
};

// Every (message, word) pair where the word matches the decoded From and
// Subject or the raw ones: messages in order, words in list order, repeated
// words repeated.
QVector<SearchMatch> find_matches(const QString& search_words, const MessageTable& messages,
                                  qint64 count);

}  // namespace ostrel
