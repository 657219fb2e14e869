#pragma once
// Where the BSL library tests find their images: the package's own files when they are
// there, and always the small fixtures of these tests.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QString>

struct ImageSet {
    QString name;
    QString dir;  // holds Pass, RAM_BSL, ForcedBOR, BinVorel

    QString path(const QString& AFile) const { return dir + "/" + AFile; }
    QByteArray read(const QString& AFile) const {
        QFile f(path(AFile));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

inline QList<ImageSet> imageSets() {
    QList<ImageSet> sets{{"fixtures", QStringLiteral(BSL_TEST_DATA_DIR)}};
    const QString package = QStringLiteral(BSL_PACKAGE_DIR);
    bool complete = true;
    for (const char* f : {"Pass", "RAM_BSL", "ForcedBOR", "BinVorel"})
        complete = complete && QFileInfo(package + "/" + f).isFile();
    if (complete) sets.append({"package", package});
    return sets;
}
