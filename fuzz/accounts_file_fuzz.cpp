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
    const QString path = dir.filePath("lumetta_pop.cfg");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return 0;
    }
    file.write(content);
    file.close();
    if (ostrel::readAccounts(path).accounts.size() > lines.size()) {
        __builtin_trap();
    }
    if (!ostrel::dropAccount(path, ostrel::account_key("srv", "ann")).isEmpty()) {
        return 0;
    }
    QFile after(path);
    after.open(QIODevice::ReadOnly);
    const QList<QByteArray> kept = ostrel::split_line_bytes(after.readAll());
    const QList<QByteArray> before = ostrel::split_line_bytes(content);
    if (kept.size() > before.size()) {
        __builtin_trap();
    }
    return 0;
}
