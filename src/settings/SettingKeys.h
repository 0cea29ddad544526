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

inline constexpr ListKey Keyword {"KEYWORD"_L1, "KEY"_L1};
inline constexpr ListKey Url {"URL"_L1, "URL"_L1};
inline constexpr ListKey Rireki {"RIREKI"_L1, "TEXT"_L1};

// Slots of the condition and target lists.
inline constexpr int kListSlots = 100;

// Fallback and cap of the history size when RIREKISUU cannot be used as it stands.
inline constexpr int kRirekiFallback = 500;
inline constexpr int kRirekiCap = 32767;

} // namespace Keys
