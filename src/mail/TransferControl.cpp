#include "mail/TransferControl.h"

#include "platform/Socket.h"

#include <curl/curl.h>

namespace mail {

void TransferControl::cancel()
{
    const std::lock_guard lock(m_mutex);
    m_cancelled.store(true);
    if (m_multi)
        curl_multi_wakeup(static_cast<CURLM *>(m_multi));
}

void TransferControl::setVerdict(const QVariant &answer)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_verdict)
            return;
        m_verdict = answer;
    }
    if (m_onVerdict)
        m_onVerdict();
}

std::optional<QVariant> TransferControl::verdict() const
{
    const std::lock_guard lock(m_mutex);
    return m_verdict;
}

bool TransferControl::attach(void *multi)
{
    const std::lock_guard lock(m_mutex);
    if (m_cancelled.load())
        return false;
    m_multi = multi;
    return true;
}

void TransferControl::detach()
{
    // Under the lock: cancel() must never wake a loop that has been taken down.
    const std::lock_guard lock(m_mutex);
    m_multi = nullptr;
}

void TransferControl::socketOpened(qintptr socket)
{
    const std::lock_guard lock(m_mutex);
    m_socket = socket;
}

void TransferControl::socketClosing(qintptr socket)
{
    // The number is free for others once closed, so it is forgotten first, under the lock that
    // cutLine() takes.
    const std::lock_guard lock(m_mutex);
    if (m_socket == socket)
        m_socket = -1;
    net::closeSocket(socket);
}

void TransferControl::cutLine()
{
    const std::lock_guard lock(m_mutex);
    if (m_socket >= 0)
        net::shutdownBoth(m_socket);
}

} // namespace mail
