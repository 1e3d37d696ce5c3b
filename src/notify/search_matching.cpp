#include "notify/search_matching.h"

#include <QLocale>

namespace ostrel {

QStringList split_search_words(const QString& search_words) {
    return search_words.split(QLatin1Char(' '));
}

bool word_matches(const QString& word, const QString& from, const QString& subject) {
    if (word.size() <= 1) {
        return false;
    }
    const QLocale locale = QLocale::system();
    return locale.toUpper(from + subject).contains(locale.toUpper(word));
}

QVector<SearchMatch> find_matches(const QString& search_words, const MessageTable& messages,
                                  qint64 count) {
    const QStringList words = split_search_words(search_words);
    QVector<SearchMatch> matches;
    for (qint64 k = 1; k <= count; ++k) {
        const QString from = k <= messages.msg_from.size() ? messages.msg_from[k - 1] : QString();
        const QString subject =
            k <= messages.msg_subject.size() ? messages.msg_subject[k - 1] : QString();
        const DisplayValues shown = messages.shown(k);
        for (const QString& word : words) {
            // The raw text too, so that no word stops matching what it matched
            // before the values were decoded.
            if (word_matches(word, shown.from, shown.subject) ||
                word_matches(word, from, subject)) {
                matches.append({k, word});
            }
        }
    }
    return matches;
}

}  // namespace ostrel
