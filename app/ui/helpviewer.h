// The help viewer: one window for the run showing the help document
// shipped inside the program, opened from every window's help entries and
// closed with the window that opened it. The about box names the program
// and its version.
#pragma once

#include <QString>

class QWidget;

namespace ui {

// The help document as shipped (Markdown).
QString helpDocument();
// Shows (or raises) the help window.
void showHelp();
// Closes it if it is open.
void closeHelp();
bool helpShown();
void aboutBox(QWidget* parent);
QString aboutText();

}  // namespace ui
