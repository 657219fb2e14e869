#pragma once
// The main window's pictures, drawn as recordings so they stay sharp at every scale.

#include <QFont>
#include <QPicture>

// The pictures' texts are in AFont's family (the window's, looked up once).
// The 221 x 24 logo strip.
QPicture LogoPicture(const QFont& AFont);
// The 32 x 32 help picture; a hint's help line shows it scaled down.
QPicture HelpPicture(const QFont& AFont);
// The 16 x 16 glyph of the video-manual button.
QPicture VideoGlyph();
