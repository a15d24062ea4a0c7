// Converts the dialog-unit rectangles of the window layouts to pixels.
#pragma once

#include <QFont>
#include <QRect>

class QAbstractButton;
class QWidget;

namespace qb {

// The factor of every list column width; the main window sets it from its font.
extern double g_dColumnScale;

// Horizontal base unit: the average width of the Latin letters of the font;
// vertical: the font's height.
struct DialogBaseUnits {
  double x;
  double y;
};
DialogBaseUnits BaseUnits(const QFont& font);

// x * baseX / 4, y * baseY / 8, for the position and the size.
QRect DluToPixels(const QFont& font, int x, int y, int w, int h);
// Places a control at its dialog-unit rectangle, in its parent's font.
void PlaceControl(QWidget* control, int x, int y, int w, int h);

// The factor of every list column width: the average character width / 7, and
// times 1.044 further when it is not 7.
double ColumnScale(const QFont& font);

// Lets a dialog laid out in dialog units grow from its documented size, which stays
// its first and smallest: one control (a list) takes the room; a control right of it
// keeps to the right edge, one below it to the bottom, and a frame around it grows
// with it. Made once the controls stand at their places; owned by the dialog.
void GrowFromDocumentedSize(QWidget* dialog, QWidget* growing);

// The width a push button needs to show its caption whole: the text and the style's
// margins, without the minimum width some styles add.
int ButtonWidthNeeded(const QAbstractButton& button);

}  // namespace qb
