#include "ui/DialogUnits.h"

#include <QAbstractButton>
#include <QEvent>
#include <QHash>
#include <QStyle>
#include <algorithm>

#include <QFontMetricsF>
#include <QWidget>

#include <cmath>

namespace qb {

double g_dColumnScale = 1.0;

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

namespace {

class GrowFilter : public QObject {
 public:
  GrowFilter(QWidget* dialog, QWidget* growing) : QObject(dialog), m_dialog(dialog), m_growing(growing) {
    m_base = dialog->size();
    for (QObject* child : dialog->children()) {
      if (auto* w = qobject_cast<QWidget*>(child); w && !w->isWindow()) m_geometry.insert(w, w->geometry());
    }
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == m_dialog && event->type() == QEvent::Resize) Arrange();
    return false;
  }

 private:
  void Arrange() {
    const int dx = std::max(0, m_dialog->width() - m_base.width());
    const int dy = std::max(0, m_dialog->height() - m_base.height());
    const QRect g = m_geometry.value(m_growing);
    for (auto it = m_geometry.cbegin(); it != m_geometry.cend(); ++it) {
      QRect r = it.value();
      if (it.key() == m_growing || (r.contains(g) && r != g)) {
        r.setSize(r.size() + QSize(dx, dy));
      } else {
        if (r.left() >= g.right()) r.translate(dx, 0);
        if (r.top() >= g.bottom()) r.translate(0, dy);
      }
      it.key()->setGeometry(r);
    }
  }

  QWidget* m_dialog;
  QWidget* m_growing;
  QSize m_base;
  QHash<QWidget*, QRect> m_geometry;
};

}  // namespace

void GrowFromDocumentedSize(QWidget* dialog, QWidget* growing) {
  dialog->setMinimumSize(dialog->size());
  dialog->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  dialog->installEventFilter(new GrowFilter(dialog, growing));
}

int ButtonWidthNeeded(const QAbstractButton& button) {
  QString text = button.text();
  text.remove(QLatin1Char('&'));
  const QStyle* style = button.style();
  return button.fontMetrics().horizontalAdvance(text) +
         2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, &button) +
         2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, &button);
}

}  // namespace qb
