#pragma once
// The fixed-pitch font for text set in columns (message sources, plain-text
// bodies): the system's own choice for "monospace", as long as its glyphs
// really are all of one width.
#include <QFont>

// pixelSize 0 keeps the size of the system's fixed font.
[[nodiscard]] QFont MonospaceFont(int pixelSize = 0);
