#pragma once
// The window's fonts on Linux. Tahoma, the window's font, travels inside the program
// (the Wine project's, see share/fonts); a family that is not available falls back to the
// desktop's default sans font.

#include <QFont>
#include <QString>
#include <QStringList>

// Registers the program's own Tahoma faces with the application (once; needs a QGuiApplication).
void RegisterPlatformFonts();

// The font of a family and a character height in pixels; AFamilies in order of preference.
QFont PlatformFont(const QStringList& AFamilies, int APixelHeight, bool ABold = false);
// AFont's family at another height and weight, without looking the family up again.
QFont ResizedFont(const QFont& AFont, int APixelHeight, bool ABold = false);
