#pragma once
// The version-information reader. With an empty file path it
// reads the running program's version, which the program's build sets as the application's
// version (QCoreApplication::applicationVersion).

#include <QString>

class TRzVersionInfo {
public:
    void SetFilePath(const QString& AValue) { FFilePath = AValue; }

    // The "FileVersion" text, unchanged; empty when the file has no version.
    QString FileVersion() const;

private:
    QString FFilePath;
};
