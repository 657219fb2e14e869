#include "Fonts.h"

#include <QFontDatabase>
#include <QGuiApplication>

namespace {

// Regular and bold, so that bold text is drawn from its own face.
const char* const cEmbeddedFontFiles[] = {":/fonts/tahoma.ttf", ":/fonts/tahomabd.ttf"};

}  // namespace

void RegisterPlatformFonts()
{
    static bool registered = false;
    if (registered || !qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    registered = true;
    for (const char* file : cEmbeddedFontFiles)
        QFontDatabase::addApplicationFont(QString::fromLatin1(file));
}

QFont PlatformFont(const QStringList& AFamilies, int APixelHeight, bool ABold)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    for (const QString& family : AFamilies)
        if (QFontDatabase::hasFamily(family)) {
            font.setFamily(family);
            break;
        }
    return ResizedFont(font, APixelHeight, ABold);
}

QFont ResizedFont(const QFont& AFont, int APixelHeight, bool ABold)
{
    QFont font = AFont;
    font.setPixelSize(APixelHeight);
    font.setBold(ABold);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}
