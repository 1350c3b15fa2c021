#ifndef TEXTFIT_H
#define TEXTFIT_H

class MainWindowForm;
class QMainWindow;

// The form's widths are made for a 9 pt font at 96 dpi. Where the font in use
// needs more room for a caption, heading, lamp placeholder or the scan
// button's text, that widget grows to the right just enough to show it (x, y
// and height stay), and the window's starting width grows if it must to
// hold it. Widgets whose text fits keep the form's width exactly.
void widenToFitTexts(MainWindowForm &form, QMainWindow *window);

#endif // TEXTFIT_H
