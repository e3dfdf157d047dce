// The console keeps its texts as bytes, one byte per character (Latin-1); the widgets as QString.
#pragma once

#include <QString>

#include <string>

namespace kalvor::ui {

inline QString Latin1(const std::string& s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

// What Latin-1 cannot hold becomes '?'.
inline std::string Bytes(const QString& s) {
    const QByteArray b = s.toLatin1();
    return std::string(b.constData(), static_cast<size_t>(b.size()));
}

}  // namespace kalvor::ui
