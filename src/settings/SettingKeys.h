#pragma once

#include <QLatin1StringView>
#include <QString>

// Every section, key and default of the settings file. Readers and writers take them from here.
struct SettingKey
{
    QLatin1StringView section;
    QLatin1StringView key;
    QLatin1StringView defaultValue;
};

// The three list sections: the key of a slot is the prefix and the slot number.
struct ListKey
{
    QLatin1StringView section;
    QLatin1StringView prefix;
    QString key(int slot) const { return prefix + QString::number(slot); }
};

namespace Keys {

using namespace Qt::Literals::StringLiterals;

inline constexpr QLatin1StringView kMail = "MAIL"_L1;

inline constexpr SettingKey SmtpServer {kMail, "SMTP_SERVER"_L1, ""_L1};
inline constexpr SettingKey From {kMail, "FROM"_L1, ""_L1};
inline constexpr SettingKey To {kMail, "TO"_L1, ""_L1};
inline constexpr SettingKey Subject {kMail, "SUBJECT"_L1, "0"_L1};
inline constexpr SettingKey TopLine {kMail, "TOPLINE"_L1, "0"_L1};
inline constexpr SettingKey EndLine {kMail, "ENDLINE"_L1, "0"_L1};
inline constexpr SettingKey Check1 {kMail, "CHECK1"_L1, "1"_L1};
inline constexpr SettingKey Check2 {kMail, "CHECK2"_L1, "0"_L1};
inline constexpr SettingKey TimerTime {kMail, "TIMERTIME"_L1, "60"_L1};
inline constexpr SettingKey PopServer {kMail, "POP_SERVER"_L1, ""_L1};
inline constexpr SettingKey PopAccount {kMail, "POP_ACCOUNT"_L1, ""_L1};
inline constexpr SettingKey PopPassword {kMail, "POP_PASSWORD"_L1, ""_L1};
inline constexpr SettingKey RirekiSuu {kMail, "RIREKISUU"_L1, "500"_L1};
// Failed visits of one target in a row after which an alert mail goes out; "0" or no whole number
// from 1 to 1000 is off.
inline constexpr SettingKey ErrorMail {kMail, "ERRORMAIL"_L1, "0"_L1};
// Desktop notifications of new hits, alerts and recoveries, and the tray icon: "1" is on, anything
// else off.
inline constexpr SettingKey Notify {kMail, "NOTIFY"_L1, "0"_L1};
// Seconds between two visits to one host, a whole number from 0 to 60; anything else is 1.
inline constexpr SettingKey HostGap {kMail, "HOSTGAP"_L1, "1"_L1};

inline constexpr ListKey Keyword {"KEYWORD"_L1, "KEY"_L1};
inline constexpr ListKey Url {"URL"_L1, "URL"_L1};
inline constexpr ListKey Rireki {"RIREKI"_L1, "TEXT"_L1};

// A value of at most so many plain digits, from low to high; otherwise the fallback.
inline int wholeNumber(QStringView text, qsizetype digits, int low, int high, int fallback)
{
    if (text.isEmpty() || text.size() > digits)
        return fallback;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return fallback;
    }
    const int n = text.toInt();
    return n >= low && n <= high ? n : fallback;
}

// ERRORMAIL as a number of failed visits: a whole number from 1 to 1000, otherwise 0 (off).
inline int errorMailThreshold(QStringView text)
{
    return wholeNumber(text, 4, 1, 1000, 0);
}

// HOSTGAP as seconds: 0 to 60, otherwise 1.
inline int hostGapSeconds(QStringView text)
{
    return wholeNumber(text, 2, 0, 60, 1);
}

// Slots of the condition and target lists.
inline constexpr int kListSlots = 100;

// Fallback and cap of the history size when RIREKISUU cannot be used as it stands.
inline constexpr int kRirekiFallback = 500;
inline constexpr int kRirekiCap = 32767;

} // namespace Keys
