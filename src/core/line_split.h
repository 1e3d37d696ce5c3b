#pragma once

#include <QByteArray>
#include <QList>

namespace ostrel {

// Splits file content into lines: CR LF or CR alone ends a line, LF alone does
// not. The last line may lack its end. Each line keeps its bytes.
QList<QByteArray> split_line_bytes(const QByteArray& content);

}  // namespace ostrel
