// The text of a pane (Message 1003, Status 1004) as the console writes it: an append log of
// bounded size that remembers what changed since it was last handed on, so that the data exchange
// and the window cost what changed, not what the pane holds.
//
// Size: the log keeps its most recent text, at most `limit` bytes. When an append would go past
// the limit, the oldest whole lines are dropped first, down to about seven eighths of the limit
// (so that the dropping, a move of the rest, happens once in a while and not at every append). A
// line ends at a line break ("\r\n", "\n\r", '\r' or '\n'); the text kept always starts right
// after one, never inside a pair. The last byte is never dropped, so whatever looks at the end of
// the text (is the last line finished?) sees the same as without the limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kalvor {

class PaneLog {
public:
    static constexpr size_t kDefaultLimit = size_t{4} << 20;  // 4 MiB

    explicit PaneLog(size_t limit = kDefaultLimit) : m_limit(limit < 2 ? 2 : limit) {}

    // --- Reading ------------------------------------------------------------------------------
    const std::string& str() const { return m_text; }
    operator std::string_view() const { return m_text; }
    size_t size() const { return m_text.size(); }
    bool empty() const { return m_text.empty(); }
    char back() const { return m_text.back(); }
    size_t Limit() const { return m_limit; }
    bool operator==(std::string_view other) const { return std::string_view(m_text) == other; }

    // --- Writing, as the console and the decoders do it -------------------------------------------
    void append(const char* data, size_t n);
    PaneLog& operator+=(std::string_view s) {
        append(s.data(), s.size());
        return *this;
    }
    PaneLog& operator+=(char c) {
        append(&c, 1);
        return *this;
    }
    // Replacing or clearing the text: the next hand-on passes the whole text.
    void assign(std::string_view s);
    PaneLog& operator=(std::string_view s) {
        assign(s);
        return *this;
    }
    void clear() { assign({}); }

    // --- What changed since the last MarkSynced() ---------------------------------------------
    // Replaced: the text was replaced (or so much was dropped that the bytes appended since the
    // mark are partly gone); whoever holds a copy must take the whole text.
    bool Replaced() const { return m_replaced; }
    // Otherwise the copy becomes this text by dropping Dropped() bytes from its front and
    // appending Appended().
    size_t Dropped() const { return m_dropped; }
    std::string_view Appended() const { return std::string_view(m_text).substr(m_appendFrom); }
    bool Changed() const { return m_replaced || m_dropped != 0 || m_appendFrom != m_text.size(); }
    // The copy now equals the text.
    void MarkSynced();
    // Replaces the text with `s` and marks it as handed on (the copy is `s`).
    void Reset(std::string_view s);
    // Goes back to the copy by taking off what was appended since the mark; false (and nothing
    // done) when that is not enough (replaced, or lines dropped since).
    bool Revert();

private:
    void MakeRoom(size_t incoming);

    std::string m_text;
    size_t m_limit;
    bool m_replaced = false;
    size_t m_dropped = 0;     // bytes dropped from the front since the mark
    size_t m_appendFrom = 0;  // where the bytes appended since the mark begin
};

// True for the two line-break characters.
constexpr bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

// Where the text may be cut so that whole lines are dropped: the first offset at or after `from`
// that follows a line break and does not start one (so a "\r\n" or "\n\r" pair is never split and
// the kept text starts a line). Returns text.size() when there is none.
size_t LineCutAtOrAfter(std::string_view text, size_t from);

}  // namespace kalvor
