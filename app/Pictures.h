#pragma once
// The main window's pictures, drawn as recordings so they stay sharp at every scale.

#include <QPicture>

// The 221 x 24 logo strip.
QPicture LogoPicture();
// The help picture, ASize x ASize (32 on the window, 16 in a hint's help line).
QPicture HelpPicture(int ASize);
// The 16 x 16 glyph of the video-manual button.
QPicture VideoGlyph();
