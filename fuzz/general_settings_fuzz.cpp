// Arbitrary settings text: the field reader never crashes and never makes up
// more fields than there are delimiters.
#include "config/general_settings.h"
#include "core/numeric_value.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QStringList fields = ostrel::read_delimited_fields(text);
    if (fields.size() > text.size()) {
        __builtin_trap();
    }
    for (const QString& field : fields) {
        ostrel::numeric_value(field);
    }
    ostrel::numeric_value(text);
    return 0;
}
