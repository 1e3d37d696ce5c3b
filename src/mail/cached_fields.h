#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

namespace ostrel {

// How a header cache keeps a From or Subject field (as header_field gives it,
// one character a byte) within one line of its file: a backslash, CR, LF and
// tab are written as "\\", "\r", "\n" and "\t", every other byte as it
// arrived.
void append_escaped_field(QByteArray& line, const QString& field);

// The field a line's escaped text stands for; nothing when the text holds a
// line end or a bad escape, or is no field as header_field makes one (each
// LF is part of a CR LF that begins a folded line).
std::optional<QString> unescaped_field(QByteArrayView text);

}  // namespace ostrel
