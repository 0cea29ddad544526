#pragma once

#include <QVariant>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>

namespace mail {

// Lets another thread end a transfer at once, without waiting for a time-out, and hears the
// server's verdict before the transfer has said goodbye.
class TransferControl
{
public:
    // Thread-safe. The transfer ends with a failure as soon as it notices, within milliseconds;
    // a message whose verdict is still to come gets a moment to hear it.
    void cancel();
    bool cancelled() const { return m_cancelled.load(); }

    // What the transfer will answer, known as soon as the server has taken the message or
    // answered the POP command: the goodbye that follows is nobody's business. Set once, by the
    // transfer's thread; then onVerdict runs on that thread, outside any lock of this object.
    void setVerdict(const QVariant &answer);
    std::optional<QVariant> verdict() const;
    void onVerdict(std::function<void()> f) { m_onVerdict = std::move(f); }

    // Used by the transfer itself: what cancel() has to wake (false when already cancelled), and
    // the socket it has open at this moment, which cutLine() shuts down.
    bool attach(void *multi);
    void detach();
    void socketOpened(qintptr socket);
    void socketClosing(qintptr socket);
    void cutLine();

private:
    std::atomic<bool> m_cancelled {false};
    mutable std::mutex m_mutex;
    void *m_multi = nullptr;
    qintptr m_socket = -1;
    std::optional<QVariant> m_verdict;
    std::function<void()> m_onVerdict;
};

} // namespace mail
