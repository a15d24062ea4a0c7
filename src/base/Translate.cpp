#include "base/Translate.h"

#include <QCoreApplication>
#include <QStringList>

namespace qb {

QString Tr(const char* source) {
  return QCoreApplication::translate(kTrContext, source);
}

QString TrHelp(const char* source) {
  return QCoreApplication::translate(kTrHelpContext, source);
}

QString Tr(std::string_view source) {
  return Tr(std::string(source).c_str());
}

std::string TrStd(std::string_view source) {
  return Tr(source).toStdString();
}

QString TrLines(std::string_view text) {
  // A message of several lines may be one source text itself.
  const QString whole = Tr(text);
  if (whole != QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))) return whole;
  QStringList lines;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find('\n', start);
    const std::string_view line = text.substr(start, end == std::string_view::npos ? end : end - start);
    lines << Tr(line);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return lines.join(QLatin1Char('\n'));
}

}  // namespace qb
