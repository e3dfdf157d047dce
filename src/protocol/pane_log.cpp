#include "protocol/pane_log.h"

#include <algorithm>

namespace kalvor {

size_t LineCutAtOrAfter(std::string_view text, size_t from) {
    if (from == 0) from = 1;  // offset 0 follows no line break
    for (size_t i = from; i < text.size(); ++i)
        if (IsLineBreak(text[i - 1]) && !IsLineBreak(text[i])) return i;
    return text.size();
}

void PaneLog::MakeRoom(size_t incoming) {
    if (m_text.size() + incoming <= m_limit) return;
    const size_t target = m_limit - m_limit / 8;
    const size_t need = m_text.size() + incoming > target ? m_text.size() + incoming - target : 0;
    size_t cut = m_text.size();
    if (need < m_text.size()) {
        cut = LineCutAtOrAfter(m_text, need);
        // One line longer than what is kept (no line break after `need`): keep its newest part.
        if (cut == m_text.size() &&
            std::none_of(m_text.begin() + static_cast<std::ptrdiff_t>(need), m_text.end(), IsLineBreak))
            cut = need;
    }
    if (!m_replaced) {
        if (cut > m_appendFrom) {
            m_replaced = true;  // bytes the copy never had are gone as well
        } else {
            m_dropped += cut;
            m_appendFrom -= cut;
        }
    }
    m_text.erase(0, cut);
}

void PaneLog::append(const char* data, size_t n) {
    if (n == 0) return;
    if (n > m_limit) {
        data += n - m_limit;
        n = m_limit;
    }
    MakeRoom(n);
    // Grow in steps that never pass the limit: a doubling from just below it would reserve
    // almost twice the limit.
    if (m_text.size() + n > m_text.capacity())
        m_text.reserve(std::min(std::max(m_text.capacity() * 2, m_text.size() + n), m_limit));
    m_text.append(data, n);
}

void PaneLog::assign(std::string_view s) {
    m_replaced = true;
    m_text.clear();
    append(s.data(), s.size());
}

void PaneLog::MarkSynced() {
    m_replaced = false;
    m_dropped = 0;
    m_appendFrom = m_text.size();
}

void PaneLog::Reset(std::string_view s) {
    m_text.assign(s.data(), s.size());
    MarkSynced();
}

bool PaneLog::Revert() {
    if (m_replaced || m_dropped != 0) return false;
    m_text.resize(m_appendFrom);
    return true;
}

}  // namespace kalvor
