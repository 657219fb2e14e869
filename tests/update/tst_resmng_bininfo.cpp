// The package manager with a package whose image information is not the usual one. Each
// executable carries one such package; EXPECTED_MESSAGE is the failure it must give (empty:
// success), EXPECTED_IMAGE the image path the package manager names afterwards. "{work}"
// stands for the working folder in both.

#include <support/PackageTestSupport.h>

#include <svc.resMng.h>

#include <QTest>

using namespace PackageTest;

class TestResMngBinInfo : public QObject {
    Q_OBJECT
private slots:
    void initialize()
    {
        TTempScope temp(QStringLiteral("bininfo"));
        const QString expectedMessage = QStringLiteral(EXPECTED_MESSAGE).replace("{work}", temp.Work());
        const QString expectedImage = QStringLiteral(EXPECTED_IMAGE).replace("{work}", temp.Work());
        if (expectedMessage.isEmpty())
            QVERIFY(QDir().mkpath(QFileInfo(expectedImage).absolutePath()));
        auto mng = CreateDataModule<TsvcResMng>();
        QString msg;
        const bool result = mng->Initialize(msg);
        QCOMPARE(msg, expectedMessage);
        QCOMPARE(result, expectedMessage.isEmpty());
        QCOMPARE(mng->Initialized(), result);
        if (!result) {
            QCOMPARE(mng->BinFileFullPath(), expectedImage);
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
