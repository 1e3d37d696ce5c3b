// Arbitrary header blocks: cutting never crashes, a value is always one line
// of the block (it never holds a line end), and the values made again from
// the whole fields (as a header cache keeps them) are those of the block.
#include "mail/header_cutter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString block =
        QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const ostrel::HeaderValues values = ostrel::cut_headers(block);
    for (const QString& value : {values.from, values.subject}) {
        if (value.contains(QLatin1Char('\n')) || value.size() > block.size()) {
            __builtin_trap();
        }
    }
    const ostrel::HeaderValues again = ostrel::header_values(ostrel::cut_fields(block));
    if (again.from != ostrel::header_value(block, u"From") ||
        again.subject != ostrel::header_value(block, u"Subject") ||
        again.display.from != values.display.from ||
        again.display.sender != values.display.sender) {
        __builtin_trap();
    }
    return 0;
}
