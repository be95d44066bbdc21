#pragma once

#include <QIcon>

// The application icon: the desktop theme's "corvanta-viewer" when the theme
// has one, else the installed hicolor images, else `fallback` (the envelope
// the window paints itself, for a program run from its build folder).
// Also names the desktop entry for the application's windows.
QIcon AppIcon(const QIcon& fallback);
