#include "patrol/WebEngineBrowser.h"

#include <QWebEngineLoadingInfo>

LoadResult::Failure WebEngineBrowser::failureOf(int errorCode, int errorDomain)
{
    using F = LoadResult::Failure;
    if (errorDomain == QWebEngineLoadingInfo::CertificateErrorDomain || (errorCode <= -200 && errorCode > -300))
        return F::Certificate;
    switch (errorCode) {
    case -105: // name not resolved
    case -137: // name resolution failed
        return F::NameNotResolved;
    case -7: // timed out
    case -100: // connection closed
    case -101: // connection reset
    case -102: // connection refused
    case -103: // connection aborted
    case -104: // connection failed
    case -106: // no network
    case -109: // address unreachable
    case -118: // connection timed out
    case -324: // empty response
        return F::ConnectionFailed;
    case -107: // TLS handshake failed
    case -113: // no common TLS version or cipher
        return F::Certificate;
    case -3: // aborted: a download, an empty answer, or replaced by another navigation
        return F::NoDocument;
    case -300: // invalid address
    case -301: // scheme not allowed
    case -302: // unknown scheme
    case -312: // unsafe port
        return F::Refused;
    default:
        break;
    }
    return errorDomain == QWebEngineLoadingInfo::DnsErrorDomain ? F::NameNotResolved : F::Other;
}
