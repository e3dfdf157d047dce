// How the two panes show the console's text. The console ends its lines with "\r\n" (as an edit
// control wants them) and, in the Status pane, with "\n\r"; a lone '\r' or '\n' also occurs. The
// widget shows each of these as one line break. These helpers work on the console's bytes (one
// byte per character) and are free of any toolkit so that they can be checked on their own.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kalvor::ui {

// Converts the console's text into the widget's text: every "\r\n", "\n\r", "\r" or "\n" becomes
// one '\n'. `pendingBreak` carries the state across appended tails: the last break character of
// the previous piece ('\r' or '\n'), or 0 when the piece did not end in a line break. A tail that
// starts with the other half of a pair then does not make a second line break.
std::string DisplayText(std::string_view text, char& pendingBreak);

// The same for a whole text.
std::string DisplayText(std::string_view text);

// How many line breaks DisplayText(text) has (the text taken from a line's start).
size_t DisplayLineBreaks(std::string_view text);

// The offset in `text` where display line `lines` starts: past `lines` line breaks, the second
// half of a pair included. text.size() when the text has fewer.
size_t SkipDisplayLines(std::string_view text, size_t lines);

// The operator edited a pane: `oldDisplay` is what the widget showed (DisplayText(original)),
// `newDisplay` what it shows now. Returns the console's text with the operator's change: the
// unchanged beginning and end keep their original bytes (and line-break pairs); line breaks the
// operator typed become "\r\n".
std::string ApplyPaneEdit(const std::string& original, const std::string& oldDisplay,
                          const std::string& newDisplay);

}  // namespace kalvor::ui
