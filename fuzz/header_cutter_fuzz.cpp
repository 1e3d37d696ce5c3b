// Arbitrary header blocks: cutting never crashes, and a value is always one
// line of the block (it never holds a line end).
#include "pop3/header_cutter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString block =
        QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const ostrel::HeaderValues values = ostrel::cut_headers(block);
    for (const QString& value : {values.from, values.subject}) {
        if (value.contains(QLatin1Char('\n')) || value.size() > block.size()) {
            __builtin_trap();
        }
    }
    return 0;
}
