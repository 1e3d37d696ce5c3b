#include "net/server_address.h"

namespace ostrel {

namespace {

// A port written as 1 to 5 digits, 1 to 65535; 0 when it is not one.
quint16 port_of(const QString& text) {
    if (text.isEmpty() || text.size() > 5) {
        return 0;
    }
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            return 0;
        }
    }
    const uint port = text.toUInt();
    return port <= 65535 ? static_cast<quint16>(port) : 0;
}

ServerAddress bracketed(const QString& server, quint16 default_port) {
    const qsizetype close = server.indexOf(QLatin1Char(']'));
    if (close < 0) {
        return {server, default_port};
    }
    const QString host = server.mid(1, close - 1);
    const QString rest = server.mid(close + 1);
    if (rest.isEmpty()) {
        return {host, default_port};
    }
    if (!rest.startsWith(QLatin1Char(':'))) {
        return {server, default_port};
    }
    const quint16 port = port_of(rest.mid(1));
    return port == 0 ? ServerAddress{server, default_port} : ServerAddress{host, port};
}

}  // namespace

ServerAddress parse_server_address(const QString& server, quint16 default_port) {
    if (server.startsWith(QLatin1Char('['))) {
        return bracketed(server, default_port);
    }
    const qsizetype colon = server.lastIndexOf(QLatin1Char(':'));
    if (colon < 0 || server.indexOf(QLatin1Char(':')) != colon) {
        return {server, default_port};
    }
    const quint16 port = port_of(server.mid(colon + 1));
    return port == 0 ? ServerAddress{server, default_port}
                     : ServerAddress{server.left(colon), port};
}

}  // namespace ostrel
