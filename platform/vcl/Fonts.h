#pragma once
// The window's fonts on Linux. Tahoma comes from Debian's fonts-wine, whose files
// sit outside fontconfig's folders; a family that is not installed falls back to the
// desktop's default sans font.

#include <QFont>
#include <QString>
#include <QStringList>

// Registers the fonts-wine Tahoma files with the application (once; needs a QGuiApplication).
void RegisterPlatformFonts();

// The font of a family and a character height in pixels; AFamilies in order of preference.
QFont PlatformFont(const QStringList& AFamilies, int APixelHeight, bool ABold = false);
