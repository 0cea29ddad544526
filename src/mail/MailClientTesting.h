#pragma once

#include <QString>
#include <QStringList>

// For tests only: the program runs with the system's certificates and the limits of MailClient.h.
namespace mail::testing {

void setTimeouts(int connectMs, int totalMs);
void setCaFile(const QString &path);
// curl resolve entries "host:port:address", to reach 127.0.0.1 under a name that is not loopback.
void setResolve(const QStringList &entries);
void reset();

} // namespace mail::testing
