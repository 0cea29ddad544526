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

// The embedded browser as the patrol sees it. Everything runs on the user-interface thread.
// Navigation calls return at once; callers learn that a page has loaded only by polling busy().
// Reads of the document let window messages run while they wait and give up after a few seconds:
// a missing, unfinished or unreadable document yields empty values (or nullopt), never a hang.
// Because window messages run inside a read, the caller must not assume that the document it
// reads is still the one it navigated to, nor that the browser object still exists afterwards.
class Browser
{
public:
    virtual ~Browser() = default;

    // Silent: no dialog of the page's own (alert, confirm, prompt, file chooser) is shown.
    virtual void setSilent(bool silent) = 0;
    virtual void setVisible(bool visible) = 0;

    // Starts loading the address as given. An address the engine refuses leaves the previous
    // document in place and ends busy().
    virtual void navigate(const QString &address) = 0;
    // Starts an HTTP POST of exactly these bytes with one extra header line ("Name: value\r\n").
    virtual void navigate2(const QString &address, const QByteArray &postData, const QString &headerLine) = 0;
    // True from navigate()/navigate2() until that page has finished loading or quit() is called.
    virtual bool busy() const = 0;
    // Abandons the load in progress; the document loaded so far stays readable.
    virtual void quit() = 0;

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

    // The widget that shows the page, for the main window to place; nullptr when there is none.
    virtual QWidget *widget() = 0;
};
