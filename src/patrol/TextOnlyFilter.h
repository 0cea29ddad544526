#pragma once

#include <QWebEngineUrlRequestInterceptor>

// Refuses, for the page it is set on, the requests whose answers are only ever painted: fonts,
// audio and video, plugin content. The text of a page does not depend on any of them.
class TextOnlyFilter : public QWebEngineUrlRequestInterceptor
{
    Q_OBJECT
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;

    void interceptRequest(QWebEngineUrlRequestInfo &info) override;

    static bool refuses(QWebEngineUrlRequestInfo::ResourceType type);
};
