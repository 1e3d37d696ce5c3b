// Arbitrary header values: decoding never crashes, never grows the text, and
// never hands a label a control character or blanks at either end.
#include "mail/display_text.h"

namespace {

bool readable(const QString& text) {
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control) {
            return false;
        }
    }
    return text == text.trimmed();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray raw(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString text = ostrel::display_text(raw);
    const QString sender = ostrel::sender_name(raw);
    if (!readable(text) || !readable(sender) || text.size() > raw.size() ||
        sender.size() > raw.size()) {
        __builtin_trap();
    }
    return 0;
}
