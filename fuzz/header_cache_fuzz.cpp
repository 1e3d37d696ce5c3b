// Arbitrary header cache files: reading never crashes, and a file that reads
// is exactly the file its messages are written as, so nothing in it is lost
// or made up. The values made from each message's fields are always one line.
#include "pop3/header_cache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray content(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const ostrel::CacheOwner owner{QStringLiteral("pop.example.org"), QStringLiteral("ann")};
    QString problem;
    const auto messages = ostrel::parse_header_cache(content, owner, &problem);
    if (!messages) {
        if (problem.isEmpty()) {
            __builtin_trap();
        }
        return 0;
    }
    if (ostrel::header_cache_content(owner, *messages) != content) {
        __builtin_trap();
    }
    for (const ostrel::CachedHeader& message : *messages) {
        const ostrel::HeaderValues values = ostrel::header_values(message.fields);
        if (values.from.contains(QLatin1Char('\n')) || values.subject.contains(QLatin1Char('\n'))) {
            __builtin_trap();
        }
    }
    return 0;
}
