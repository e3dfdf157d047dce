#include "ui/pane_text.h"

#include <algorithm>

namespace kalvor::ui {

namespace {

bool IsBreak(char c) { return c == '\r' || c == '\n'; }

// The offset in `original` where display character `displayOffset` starts (original.size() for
// the end). Walks the text with the same rules as DisplayText.
size_t OriginalOffset(std::string_view original, size_t displayOffset) {
    size_t shown = 0;
    char pending = 0;
    for (size_t i = 0; i < original.size(); ++i) {
        const char c = original[i];
        if (IsBreak(c) && pending != 0 && pending != c) {
            pending = 0;  // second half of a pair: shows nothing
            continue;
        }
        if (shown == displayOffset) return i;
        ++shown;
        pending = IsBreak(c) ? c : 0;
    }
    return original.size();
}

}  // namespace

std::string DisplayText(std::string_view text, char& pendingBreak) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (IsBreak(c)) {
            if (pendingBreak != 0 && pendingBreak != c) {
                pendingBreak = 0;
                continue;
            }
            out += '\n';
            pendingBreak = c;
        } else {
            out += c;
            pendingBreak = 0;
        }
    }
    return out;
}

std::string DisplayText(std::string_view text) {
    char pending = 0;
    return DisplayText(text, pending);
}

size_t DisplayLineBreaks(std::string_view text) {
    size_t breaks = 0;
    char pending = 0;
    for (const char c : text) {
        if (!IsBreak(c)) {
            pending = 0;
        } else if (pending != 0 && pending != c) {
            pending = 0;
        } else {
            ++breaks;
            pending = c;
        }
    }
    return breaks;
}

size_t SkipDisplayLines(std::string_view text, size_t lines) {
    char pending = 0;
    size_t i = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (!IsBreak(c)) {
            if (lines == 0) return i;
            pending = 0;
        } else if (pending != 0 && pending != c) {
            pending = 0;  // second half of a pair: part of the break before it
        } else {
            if (lines == 0) return i;
            --lines;
            pending = c;
        }
    }
    return lines == 0 ? i : text.size();
}

std::string ApplyPaneEdit(const std::string& original, const std::string& oldDisplay,
                          const std::string& newDisplay) {
    // The changed stretch: what lies between the common beginning and the common end.
    const size_t shorter = std::min(oldDisplay.size(), newDisplay.size());
    size_t head = 0;
    while (head < shorter && oldDisplay[head] == newDisplay[head]) ++head;
    size_t tail = 0;
    while (tail < shorter - head &&
           oldDisplay[oldDisplay.size() - 1 - tail] == newDisplay[newDisplay.size() - 1 - tail])
        ++tail;

    const size_t from = OriginalOffset(original, head);
    const size_t to = OriginalOffset(original, oldDisplay.size() - tail);
    std::string typed;
    for (size_t i = head; i < newDisplay.size() - tail; ++i) {
        if (newDisplay[i] == '\n')
            typed += "\r\n";
        else
            typed += newDisplay[i];
    }
    return original.substr(0, from) + typed + original.substr(to);
}

}  // namespace kalvor::ui
