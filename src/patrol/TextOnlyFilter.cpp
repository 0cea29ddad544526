#include "patrol/TextOnlyFilter.h"

void TextOnlyFilter::interceptRequest(QWebEngineUrlRequestInfo &info)
{
    if (refuses(info.resourceType()))
        info.block(true);
}

bool TextOnlyFilter::refuses(QWebEngineUrlRequestInfo::ResourceType type)
{
    using R = QWebEngineUrlRequestInfo;
    switch (type) {
    // Images are off in the page's settings already; a preload or a stylesheet's picture that
    // gets this far is refused all the same.
    case R::ResourceTypeImage:
    case R::ResourceTypeFavicon:
    case R::ResourceTypeFontResource:
    case R::ResourceTypeMedia:
    case R::ResourceTypeObject:
    case R::ResourceTypePluginResource:
        return true;
    default:
        return false;
    }
}
