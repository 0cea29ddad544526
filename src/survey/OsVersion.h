#pragma once

#include <QString>
#include <QStringView>

// The "OS" value of the survey: platform identifier, major, minor and build, joined by ".".
namespace Survey {

// Windows reports VER_PLATFORM_WIN32_NT (2). Windows never used anything above 3, so the other
// systems get identifiers of their own that cannot be mistaken for a Windows version.
inline constexpr int kPlatformWindowsNt = 2;
inline constexpr int kPlatformLinux = 100;
inline constexpr int kPlatformOtherUnix = 101;

// Builds the value from a kernel version such as "10.0.19045" or "6.1.0-18-amd64": its first
// three numbers, missing ones as 0. A version that gives no number, or a number beyond the
// signed 32-bit range, counts as a failed query: "0.0.0.0".
QString osVersionFrom(int platformId, QStringView kernelVersion);

// The value for the system we run on.
QString osVersion();

} // namespace Survey
