// The package manager with a package whose image information is not the usual one. Each
// executable carries one such package; EXPECTED_MESSAGE is the failure it must give (empty:
// success), EXPECTED_IMAGE the image path of a success (empty: in the working folder).

#include "PackageTestSupport.h"

#include <svc.resMng.h>

#include <QTest>

using namespace PackageTest;

class TestResMngBinInfo : public QObject {
    Q_OBJECT
private slots:
    void initialize()
    {
        const QString expectedMessage = QStringLiteral(EXPECTED_MESSAGE);
        const QString expectedImage = QStringLiteral(EXPECTED_IMAGE);
        TTempScope temp(QStringLiteral("bininfo"));
        if (!expectedImage.isEmpty())
            QVERIFY(QDir().mkpath(QFileInfo(expectedImage).absolutePath()));
        auto mng = CreateDataModule<TsvcResMng>();
        QString msg;
        const bool result = mng->Initialize(msg);
        QCOMPARE(msg, expectedMessage);
        QCOMPARE(result, expectedMessage.isEmpty());
        QCOMPARE(mng->Initialized(), result);
        if (!result) {
            QCOMPARE(mng->BinFileFullPath(), QString());
            QCOMPARE(Entries(temp.Work()), QStringList{"BSL430.dll"});
            return;
        }
        QCOMPARE(mng->BinFileFullPath(), expectedImage);
        QCOMPARE(ReadAll(expectedImage), ReadAll(QStringLiteral(RESOURCES_DIR "/BinVorel")));
        QStringList inWorkFolder{"BSL430.dll"};
        if (QFileInfo(expectedImage).absolutePath() == temp.Work())
            inWorkFolder << QFileInfo(expectedImage).fileName();
        QCOMPARE(Entries(temp.Work()), inWorkFolder);
        mng->Finalize();
        QVERIFY(!QFileInfo::exists(expectedImage));
        QCOMPARE(Entries(temp.Work()), QStringList{"BSL430.dll"});
    }
};

QTEST_GUILESS_MAIN(TestResMngBinInfo)
#include "tst_resmng_bininfo.moc"
