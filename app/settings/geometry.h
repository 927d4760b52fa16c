// Window places kept in omail.ini under a one-letter prefix: "n" for the
// newsgroups window, "v" the viewer, "c" the compose window, "l" the decode
// log. Read when the window is created, written when it is destroyed.
#pragma once

#include "settings/settings.h"

class QWidget;

namespace omail {

// Default sizes of the windows whose left key holds a place.
inline constexpr int kDefaultWindowWidth = 640;
inline constexpr int kDefaultWindowHeight = 480;
inline constexpr int kDecodeLogWidth = 320;

// Places the window from its keys; with "left" at -1 (or missing) it keeps
// its designed size, centred on the screen. Bad integers are reported.
void restoreWindowPlace(QWidget* window, const IniFile& ini, char prefix, int defaultWidth,
                        int defaultHeight);
// Writes the window's left, top, width and height.
void saveWindowPlace(const QWidget* window, const IniFile& ini, char prefix);

}  // namespace omail
