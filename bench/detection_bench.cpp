// New-mail detection on a large mailbox: 20,000 messages read again, 20 of
// them new, against the seen-state file the previous check wrote. Prints the
// time of a plain search of the whole seen text for every subject (the former
// way, quadratic) beside the detection the program uses, with both results,
// and the time to read the file and to build its rewrite (best of five runs).
#include <QElapsedTimer>
#include <cstdio>

#include "mail/display_text.h"
#include "notify/seen_state.h"

using namespace ostrel;

namespace {

constexpr int kMessages = 20000;
constexpr int kNew = 20;

// Messages first .. first + count - 1, each with its own subject.
MessageTable mailbox(int first, int count) {
    MessageTable messages;
    for (int i = 0; i < count; ++i) {
        const QString n = QString::number(first + i);
        store_decoded(messages, i, i + 1, QStringLiteral("Sender %1 <s%1@example.org>").arg(n),
                      QStringLiteral("Quarterly figures, part %1 (draft)").arg(n));
    }
    return messages;
}

int searched_new(const QString& seen_text, const MessageTable& messages) {
    int count = 0;
    for (const QString& subject : messages.msg_subject) {
        count += seen_text.isEmpty() || !seen_text.contains(subject);
    }
    return count;
}

// The best of `runs` timings of `work`, in milliseconds.
template <typename Work>
double best_ms(int runs, Work work) {
    double best = 0;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        work();
        const double ms = clock.nsecsElapsed() / 1e6;
        best = run == 0 ? ms : qMin(best, ms);
    }
    return best;
}

}  // namespace

int main() {
    const QByteArray file = seen_state_content(mailbox(1, kMessages), kMessages);
    const MessageTable now = mailbox(1 + kNew, kMessages);

    SeenText seen;
    int old_new = 0;
    int new_new = 0;
    QByteArray rewrite;
    // The former way takes seconds: one run is enough to see it.
    const double read_ms = best_ms(5, [&] { seen = seen_text_from(file); });
    const double old_ms = best_ms(1, [&] { old_new = searched_new(seen.text, now); });
    const double new_ms =
        best_ms(5, [&] { new_new = detect_new_mail(seen, now, kMessages).new_count; });
    const double write_ms = best_ms(5, [&] { rewrite = seen_state_content(now, kMessages); });

    std::printf("detection of %d messages (%d new) against a %lld-byte seen-state file\n",
                kMessages, kNew, static_cast<long long>(file.size()));
    std::printf("  whole-text search per subject (before): %9.1f ms, %d new\n", old_ms, old_new);
    std::printf("  line ends first, then search (now):     %9.1f ms, %d new\n", new_ms, new_new);
    std::printf("  speed-up: %.0fx\n", old_ms / new_ms);
    std::printf("  reading the file: %.1f ms; building its rewrite (%lld bytes): %.1f ms\n",
                read_ms, static_cast<long long>(rewrite.size()), write_ms);
    return old_new == new_new ? 0 : 1;
}
