#pragma once

#include <QString>

namespace ostrel {

struct ServerAddress {
    QString host;
    quint16 port = 0;
};

// Where an account's server field points. "host" and a bare IPv6 literal use
// the protocol's `default_port`; "host:port" and "[IPv6]:port" name their own
// port (1 to 65535). Anything else is taken whole as the host name, so it
// fails where it would have failed anyway: at the connection.
ServerAddress parse_server_address(const QString& server, quint16 default_port);

}  // namespace ostrel
