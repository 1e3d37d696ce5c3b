// Arbitrary accounts-file content: reading never crashes, every record read
// holds four fields, and dropping an account keeps every other line.
#include <QTemporaryDir>

#include "config/accounts_file.h"
#include "core/line_split.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray content(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QStringList lines = ostrel::split_account_lines(content);
    for (const QString& line : lines) {
        ostrel::PopAccount account;
        if (ostrel::parse_account_line(line, &account) &&
            ostrel::split_account_fields(line).size() < 4) {
            __builtin_trap();
        }
    }
    static QTemporaryDir dir;
    QFile file(dir.filePath("lumetta_pop.cfg"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) < 0) {
        return 0;
    }
    file.close();
    if (ostrel::readAccounts(file.fileName()).accounts.size() > lines.size()) {
        __builtin_trap();
    }
    if (ostrel::dropAccount(file.fileName(), ostrel::account_key("srv", "ann")).isEmpty() &&
        file.open(QIODevice::ReadOnly) &&
        ostrel::split_line_bytes(file.readAll()).size() >
            ostrel::split_line_bytes(content).size()) {
        __builtin_trap();
    }
    return 0;
}
