#pragma once

// A console of the test process's own, and what it shows.

#include <string>

namespace korvo::win32test {

// Gives this process a new console, which the programs it starts share;
// "" when it has one, else why not. Under Wine a program started from a
// Unix shell has only a stand-in for a console, and Wine's console keeps
// its screen only on a display.
std::string NewConsole();

// What this process's console shows down to the cursor, each line without
// the blanks that fill it and ended by "\n".
std::wstring ConsoleScreen();

// `text` read in the ANSI code page.
std::wstring FromAnsi(const std::string& text);

}  // namespace korvo::win32test
