#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace korvo {

// True when the process's standard error is a terminal (a console on
// Windows): a person is reading it, so progress and hints may be shown.
bool StderrIsTerminal();
// The same for standard output, where the run's own lines go.
bool StdoutIsTerminal();

// The width of the terminal on standard error in columns; 0 when unknown.
unsigned StderrColumns();

// `text` as it may be written to the operator's terminal or console: what
// prints as itself passes unchanged, and every byte that could act as a
// control (move the cursor, clear the screen, ring the bell, start an escape
// sequence) shows as \xHH, and so does every byte of an invisible character
// that changes how the text around it shows (IsFormatCharacter). A device's
// name is not ours, so it must not do any of that, nor forge a line of the
// tool's own output, nor show reversed.
std::string TerminalSafe(std::string_view text);

// True for the Unicode characters that print nothing yet change the text
// around them: category Cf (bidirectional overrides and isolates, zero-width
// characters, the byte order mark, the soft hyphen, tags) and the line and
// paragraph separators U+2028 and U+2029. FormatCharacters.cpp, portable.
bool IsFormatCharacter(uint32_t code);
// The length of the valid UTF-8 sequence at the start of `text`, its
// character in *code; 0 when the text does not start with one.
// FormatCharacters.cpp, portable.
size_t Utf8Sequence(std::string_view text, uint32_t* code);

// `text`, in the system's code page (the one device names and file names
// come in), as UTF-8: Linux's bytes as they are, Windows's ANSI code page
// converted. A text the code page cannot read is left as it is.
std::string TextAsUtf8(std::string_view text);
// Writes `text` to `stream` (stdout or stderr). A Windows console is given
// it as characters, read in the system's ANSI code page (the one device
// names and file names come in), so that it shows whatever the console's
// own code page; pipes and files, and every stream on Linux, get the bytes
// as they are.
void WriteText(std::FILE* stream, std::string_view text);

}  // namespace korvo
