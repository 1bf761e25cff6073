#pragma once

#include <QString>
#include <string>

namespace vs {

// The core keeps text as bytes; the widgets show them as UTF-8.
inline QString toQt(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
inline std::string fromQt(const QString& s) {
    return s.toUtf8().toStdString();
}

}  // namespace vs
