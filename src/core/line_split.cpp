#include "core/line_split.h"

namespace ostrel {

QList<QByteArray> split_line_bytes(const QByteArray& content) {
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < content.size(); ++i) {
        if (content[i] != '\r') {
            continue;
        }
        lines.append(content.mid(start, i - start));
        if (i + 1 < content.size() && content[i + 1] == '\n') {
            ++i;
        }
        start = i + 1;
    }
    if (start < content.size()) {
        lines.append(content.mid(start));
    }
    return lines;
}

}  // namespace ostrel
