#include "ui/SortListCtrl.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QPalette>
#include <QStyleOptionHeader>

namespace qb {

CSortHeaderCtrl::CSortHeaderCtrl(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
  setSectionsClickable(true);
  setHighlightSections(false);
  setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

int CSortHeaderCtrl::SetSortImage(int column, bool ascending) {
  const int previous = m_nSortColumn;
  m_nSortColumn = column;
  m_bSortAscending = ascending ? 1 : 0;
  m_ownerDrawn.insert(column);
  viewport()->update();
  return previous;
}

void CSortHeaderCtrl::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
  if (!m_ownerDrawn.contains(logicalIndex)) {
    QHeaderView::paintSection(painter, rect, logicalIndex);
    return;
  }

  // The frame and background as the style draws them, without its text or arrow.
  QStyleOptionHeader opt;
  initStyleOption(&opt);
  opt.rect = rect;
  opt.section = logicalIndex;
  opt.text.clear();
  opt.sortIndicator = QStyleOptionHeader::None;
  painter->save();
  style()->drawControl(QStyle::CE_HeaderSection, &opt, painter, this);

  const QString text = model() ? model()->headerData(logicalIndex, orientation()).toString() : QString();
  const QVariant alignVar =
      model() ? model()->headerData(logicalIndex, orientation(), Qt::TextAlignmentRole) : QVariant();
  const Qt::Alignment align = alignVar.isValid() ? Qt::Alignment(alignVar.toInt()) : defaultAlignment();
  Qt::Alignment horizontal = Qt::AlignLeft;
  if (align & Qt::AlignHCenter)
    horizontal = Qt::AlignHCenter;
  else if (align & Qt::AlignRight)
    horizontal = Qt::AlignRight;

  QRect textRect = rect;
  if (horizontal == Qt::AlignRight)
    textRect.adjust(0, 0, -5, 0);
  else
    textRect.adjust(5, 0, 0, 0);
  const QFontMetrics fm(font());
  painter->setPen(palette().color(QPalette::ButtonText));
  painter->drawText(textRect, int(horizontal | Qt::AlignVCenter | Qt::TextSingleLine),
                    fm.elidedText(text, Qt::ElideRight, textRect.width()));

  if (logicalIndex == m_nSortColumn) {
    // The engraved triangle, in the header's coordinates: o is twice a blank's width.
    const int o = 2 * fm.horizontalAdvance(QLatin1Char(' '));
    const int R = rect.right();
    const int T = rect.top();
    const int B = rect.bottom();
    const QPen light(palette().color(QPalette::Light), 1);
    const QPen shadow(palette().color(QPalette::Dark), 1);
    if (m_bSortAscending) {
      painter->setPen(light);
      painter->drawLine(R - 3 * o / 2 + 10, T + o - 1, R - 2 * o + 9, B - o + 1);
      painter->setPen(shadow);
      painter->drawLine(R - 2 * o + 9, B - o, R - 5 * o / 2 + 9, T + o - 1);
      painter->drawLine(R - 5 * o / 2 + 9, T + o - 1, R - 3 * o / 2 + 10, T + o - 1);
    } else {
      painter->setPen(light);
      painter->drawLine(R - 2 * o + 10, T + o - 1, R - 3 * o / 2 + 10, B - o);
      painter->drawLine(R - 3 * o / 2 + 10, B - o, R - 5 * o / 2 + 8, B - o);
      painter->setPen(shadow);
      painter->drawLine(R - 5 * o / 2 + 9, B - o - 1, R - 2 * o + 10, T + o - 2);
    }
  }
  painter->restore();
}

CSortListCtrl::CSortListCtrl(bool sortable, QWidget* parent)
    : QTableView(parent), m_header(new CSortHeaderCtrl(this)), m_bSortable(sortable) {
  setHorizontalHeader(m_header);
  setSortingEnabled(false);  // sorting goes through the header click below, with its rules
  setShowGrid(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setWordWrap(false);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  m_header->setStretchLastSection(false);
  if (m_bSortable) connect(m_header, &QHeaderView::sectionClicked, this, &CSortListCtrl::OnColumnClick);
}

void CSortListCtrl::setModel(QAbstractItemModel* model) {
  QTableView::setModel(model);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
}

bool CSortListCtrl::SortColumn(int column, bool ascending) {
  if (!m_bSortable || !model()) return false;
  m_header->SetSortImage(column, ascending);
  model()->sort(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
  return true;
}

void CSortListCtrl::OnColumnClick(int column) {
  if (m_sortAllowed && !m_sortAllowed()) return;
  const bool ascending = column != m_header->GetSortColumn() || !m_header->IsSortAscending();
  SortColumn(column, ascending);
}

}  // namespace qb
