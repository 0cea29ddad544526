#pragma once

#include <QString>

// The program-wide title that every message box and input prompt shows.
namespace AppTitle {

inline constexpr int kMajor = KORVANI_VERSION_MAJOR;
inline constexpr int kMinor = KORVANI_VERSION_MINOR;
inline constexpr int kPatch = KORVANI_VERSION_PATCH;

// "1.8.0": the version as the caption and the survey show it.
QString version();

// The program's own name, before the start-up adds the version to the title.
QString name();
QString get();
void set(const QString &title);

} // namespace AppTitle
