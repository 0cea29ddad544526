#pragma once

#include <QString>

#include <optional>

namespace mail {

enum class Protocol { Smtp, Pop3 };

// Where to connect, read from a server setting: "host", "host:port", or
// "smtp://[user[:password]@]host[:port]" with smtps, pop3 and pop3s alike.
struct MailServer
{
    Protocol protocol = Protocol::Smtp;
    bool implicitTls = false;
    QString host; // IPv6 literals without their brackets
    int port = 0;
    QString user;
    QString password;
    bool hasUser = false;

    QString url() const;
};

// Empty when the text names no usable server or its scheme belongs to the other protocol.
std::optional<MailServer> parseMailServer(const QString &text, Protocol protocol);

// localhost, 127.0.0.0/8 and ::1: the only hosts that may see a password in the clear.
bool isLoopbackHost(const QString &host);

} // namespace mail
