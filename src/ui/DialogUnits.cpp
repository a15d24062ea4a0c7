#include "ui/DialogUnits.h"

#include <QFontMetricsF>
#include <QWidget>

#include <cmath>

namespace qb {

namespace {
double AverageCharWidth(const QFont& font) {
  static const QString kLetters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  const QFontMetricsF fm(font);
  return fm.horizontalAdvance(kLetters) / kLetters.size();
}
}  // namespace

DialogBaseUnits BaseUnits(const QFont& font) {
  const QFontMetricsF fm(font);
  return {AverageCharWidth(font), fm.height()};
}

QRect DluToPixels(const QFont& font, int x, int y, int w, int h) {
  const DialogBaseUnits u = BaseUnits(font);
  auto px = [&](int v) { return static_cast<int>(std::lround(v * u.x / 4.0)); };
  auto py = [&](int v) { return static_cast<int>(std::lround(v * u.y / 8.0)); };
  return QRect(px(x), py(y), px(w), py(h));
}

void PlaceControl(QWidget* control, int x, int y, int w, int h) {
  const QFont font = control->parentWidget() ? control->parentWidget()->font() : control->font();
  control->setGeometry(DluToPixels(font, x, y, w, h));
}

double ColumnScale(const QFont& font) {
  const int width = static_cast<int>(AverageCharWidth(font));
  double scale = width / 7.0;
  if (width != 7) scale *= 1.044;
  return scale;
}

}  // namespace qb
