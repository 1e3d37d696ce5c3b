// Arbitrary seen-state content and headers: detection never crashes, gives
// the verdicts of a plain search of the whole seen text, and a table written
// out and read back is seen in full.
#include "mail/display_text.h"
#include "notify/search_matching.h"
#include "notify/seen_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QList<QByteArray> parts = bytes.split('\0');
    ostrel::MessageTable messages;
    for (int i = 1; i + 1 < parts.size(); i += 2) {
        ostrel::store_decoded(messages, messages.size(), messages.size() + 1,
                              QString::fromLatin1(parts[i]), QString::fromLatin1(parts[i + 1]));
    }
    const ostrel::SeenText seen = ostrel::seen_text_from(parts.value(0));
    const ostrel::NewMailResult result = ostrel::detect_new_mail(seen, messages, messages.size());
    int searched_new = 0;
    for (const QString& subject : messages.msg_subject) {
        searched_new += seen.text.isEmpty() || !seen.text.contains(subject);
    }
    if (result.new_count != searched_new) {
        __builtin_trap();
    }
    const ostrel::SeenText rewritten =
        ostrel::seen_text_from(ostrel::seen_state_content(messages, messages.size()));
    bool has_line_break = false;
    for (int k = 0; k < messages.size(); ++k) {
        has_line_break |=
            messages.msg_subject[k].contains('\r') || messages.msg_from[k].contains('\r');
    }
    if (!has_line_break && messages.size() > 0 &&
        ostrel::detect_new_mail(rewritten, messages, messages.size()).new_count != 0) {
        __builtin_trap();
    }
    ostrel::find_matches(QString::fromLatin1(parts.value(0).left(64)), messages, messages.size());
    return 0;
}
