#include "settings/Autostart.h"

#include "settings/SettingsLocation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

using namespace Qt::StringLiterals;

namespace Autostart {

namespace {

// A path as one quoted argument of Exec: the quoting rule escapes " ` $ and \, the rule for
// strings escapes each \ once more, and % stands for itself only doubled.
QString execArgument(const QString &path)
{
    QString quoted;
    for (const QChar c : path) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        if (c == u'%')
            quoted += u'%';
        quoted += c;
    }
    return u'"' + quoted.replace(u"\\"_s, u"\\\\"_s) + u'"';
}

QString readEntry(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll());
}

} // namespace

QString folder()
{
    return SettingsLocation::configHome() + u"/autostart"_s;
}

QString entryPath()
{
    return folder() + u"/korvani.desktop"_s;
}

QString iconFor(const QString &executable)
{
    const QString beside = QFileInfo(executable).absolutePath() + u"/korvani.svg"_s;
    return QFileInfo::exists(beside) ? beside : u"korvani"_s;
}

QString entryText(const QString &executable, const QString &icon)
{
    if (executable.contains(u'\n') || executable.contains(u'\r') || icon.contains(u'\n') || icon.contains(u'\r'))
        return QString();
    QString text = readEntry(u":/packaging/korvani.desktop.in"_s);
    text.replace(u"\"@KORVANI_EXEC@\""_s, execArgument(executable));
    text.replace(u"@KORVANI_ICON@"_s, QString(icon).replace(u"\\"_s, u"\\\\"_s));
    if (!text.endsWith(u'\n'))
        text += u'\n';
    return text + u"X-GNOME-Autostart-enabled=true\n"_s;
}

bool isOn()
{
    const QString text = readEntry(entryPath());
    if (text.isEmpty())
        return false;
    for (const QString &raw : text.split(u'\n')) {
        const QString line = raw.trimmed();
        if (line == u"Hidden=true" || line == u"X-GNOME-Autostart-enabled=false")
            return false;
    }
    return true;
}

QString set(bool on, const QString &executable)
{
    const QString path = entryPath();
    if (!on) {
        QFile f(path);
        if (!f.exists() || f.remove())
            return QString();
        return u"自動起動の設定を削除できませんでした（"_s + f.errorString() + u"）: "_s + path;
    }
    const QString text = entryText(executable, iconFor(executable));
    if (text.isEmpty())
        return u"このプログラムの場所は自動起動の設定に書けません: "_s + executable;
    QString why;
    if (!QDir().mkpath(folder())) {
        why = u"フォルダーを作れません"_s;
    } else {
        QSaveFile f(path);
        if (f.open(QIODevice::WriteOnly)) {
            f.write(text.toUtf8());
            f.setPermissions(
                QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
            if (f.commit())
                return QString();
        }
        why = f.errorString();
    }
    return u"自動起動の設定を書き込めませんでした（"_s + why + u"）: "_s + path;
}

} // namespace Autostart
