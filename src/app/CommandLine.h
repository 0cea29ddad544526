#pragma once

#include <optional>

// What the program does instead of opening its window when the command line asks for it:
//   korvani --help
//   korvani --check [--session] ADDRESS [CONDITION...]
// The check loads the page without a window, prints every line a patrol step would examine and
// the conditions that hit it, and ends: it mails nothing and writes no file, so it may run beside
// the window. With --session it loads the page as the patrol would, logged in, which only one
// program may do at a time: it refuses while the window runs. Exit code 0 when a line hits, 1 when none does, 2 when
// the page could not be loaded or the command line is wrong.
namespace CommandLine {

// The exit code, or nothing when the window is to start. Call first thing in main(), before any
// application object exists.
std::optional<int> run(int argc, char *argv[]);

} // namespace CommandLine
