#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

class QWidget;

// One link of the loaded document: the text it shows and its target in absolute form.
struct BrowserLink
{
    QString text;
    QString href;

    bool operator==(const BrowserLink &) const = default;
};

// How the last navigation ended, as far as the engine told.
struct LoadResult
{
    enum class Failure {
        None, // the document of the navigation arrived
        Refused, // the program would not load the address
        NameNotResolved,
        ConnectionFailed, // refused, reset or cut off
        Certificate,
        NoDocument, // a download, an empty answer, or the load ended without a page
        TimedOut, // nothing arrived within the wait
        RendererEnded,
        Other, // any other error of the engine
    };
    Failure failure = Failure::None;
    // The answer's status where one arrived (a 404 page is a document too), otherwise 0.
    int httpStatus = 0;
    // The engine's own error number, for the log.
    int engineCode = 0;
    // False when the wait ended before the page had finished; what arrived is still a document.
    bool complete = true;

    bool documentArrived() const { return failure == Failure::None; }
    bool operator==(const LoadResult &) const = default;
};

// The embedded browser as the patrol sees it. Everything runs on the user-interface thread.
// Navigation calls return at once; callers learn that a page has loaded only by polling busy().
// Reads of the document let window messages run while they wait and give up after a few seconds:
// a missing, unfinished or unreadable document yields empty values (or nullopt), never a hang.
// Reads see only a document that the last navigation brought: when it failed, the page shown
// before it reads as no document at all, so it can never pass for the page that was asked for.
// Because window messages run inside a read, the caller must not assume that the browser object
// still exists afterwards, nor that nobody else navigated meanwhile (navigationCount() tells).
class Browser
{
public:
    virtual ~Browser() = default;

    // Silent: no dialog of the page's own (alert, confirm, prompt, file chooser) is shown.
    virtual void setSilent(bool silent) = 0;
    virtual void setVisible(bool visible) = 0;

    // Starts loading the address as given. An address the program refuses ends busy() at once and
    // its result is Refused. A page that asks before it is left is always left.
    virtual void navigate(const QString &address) = 0;
    // Starts an HTTP POST of exactly these bytes with one extra header line ("Name: value\r\n").
    virtual void navigate2(const QString &address, const QByteArray &postData, const QString &headerLine) = 0;
    // True from navigate()/navigate2() until that page has finished loading or quit() is called.
    virtual bool busy() const = 0;
    // Abandons the load in progress; the document loaded so far stays readable.
    virtual void quit() = 0;
    // After busy() has ended or quit(): what the last navigation brought. May let window
    // messages run while it asks the engine.
    virtual LoadResult loadResult() = 0;
    // Counts navigate() and navigate2() calls, so a caller can tell that somebody else navigated
    // while it waited.
    virtual quint64 navigationCount() const = 0;

    // The visible text of the body, lines separated by CR LF; empty without a body.
    virtual QString bodyInnerText() = 0;
    virtual QString documentTitle() = 0;
    // The title, or the address where the document has none.
    virtual QString locationName() = 0;
    virtual QString locationUrl() = 0;

    // nullopt when the document or its link collection cannot be read, or i is out of range.
    virtual std::optional<int> linkCount() = 0;
    virtual std::optional<QString> linkText(int i) = 0;
    virtual std::optional<QString> linkHref(int i) = 0;
    // All links in document order, read in one go.
    virtual std::optional<QList<BrowserLink>> links() = 0;
    // Whether the document shows a password field the user could type into: hidden ones do not
    // count, those in an open shadow root do. nullopt when the document cannot be read.
    virtual std::optional<bool> passwordFieldShown() = 0;
    // Whether the document is a bot check of the kind sites put in front of their pages.
    virtual std::optional<bool> challengeShown() = 0;
    // The named headers of the server's answer for the document's address, asked again with a
    // HEAD request; an empty value for a header it lacks. nullopt when nothing could be asked.
    virtual std::optional<QStringList> answerHeaders(const QStringList &names) = 0;
    // Bytes the document and the resources it loaded took on the network so far, as far as the
    // engine tells: resources of other sites that keep their timing to themselves count nothing.
    // nullopt when the document cannot be read.
    virtual std::optional<qint64> bytesReceived() = 0;

    // The widget that shows the page, for the main window to place; nullptr when there is none.
    virtual QWidget *widget() = 0;
};
