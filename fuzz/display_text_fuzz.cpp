// Arbitrary header values: decoding never crashes, never grows the text, and
// never hands a label a control character or blanks at either end.
#include "mail/display_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray raw(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (const QString& text : {ostrel::display_text(raw), ostrel::sender_name(raw)}) {
        if (text.size() > raw.size() || text != text.trimmed()) {
            __builtin_trap();
        }
        for (const QChar c : text) {
            if (c.category() == QChar::Other_Control) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
