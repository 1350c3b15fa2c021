#ifndef PORTBOX_H
#define PORTBOX_H

class QComboBox;

// Makes long device names readable in the port list `box`, which keeps its
// place, size and texts: the closed box shows a name that does not fit with
// its middle elided; the drop-down list is as wide as its longest entry needs,
// up to the screen's width; the tool tip and the accessible description give
// the whole name of the current port and follow it. Names that fit are drawn
// exactly as before.
void showLongPortNames(QComboBox *box);

#endif // PORTBOX_H
