// The package manager with a package that lacks RAM_BSL_Version.

#include <support/PackageTestSupport.h>

#include <rtl/SysUtils.h>
#include <svc.resMng.h>

#include <QTest>

using namespace PackageTest;

class TestResMngNoVersion : public QObject {
    Q_OBJECT
private slots:
    void missingTextStopsTheLoad()
    {
        TTempScope temp(QStringLiteral("no-version"));
        auto mng = CreateDataModule<TsvcResMng>();
        QString msg;
        QVERIFY(!mng->Initialize(msg));
        QCOMPARE(msg, QStringLiteral("Resource RAM_BSL_Version not found"));
        QVERIFY(!mng->Initialized());

        // The texts before it are loaded, it is empty, the image information is not.
        QCOMPARE(mng->Pass().toLatin1(), ReadAll(QStringLiteral(RESOURCES_DIR "/Pass")));
        QCOMPARE(mng->RamBSL().toLatin1(), ReadAll(QStringLiteral(RESOURCES_DIR "/RAM_BSL")));
        QCOMPARE(mng->ForcedBOR(), QStringLiteral("@0120\r\n04 A5 \r\nq"));
        QCOMPARE(mng->RamBSLVersion(), QString());
        try {
            mng->BinFileName();
            QFAIL("no exception");
        } catch (const EListError& e) {
            QCOMPARE(e.Message(), QStringLiteral("List index out of bounds (0)"));
        }

        // No image was written; the library was.
        QCOMPARE(mng->BinFileFullPath(), QString());
        QCOMPARE(Entries(temp.Work()), QStringList{"BSL430.dll"});
    }
};

QTEST_GUILESS_MAIN(TestResMngNoVersion)
#include "tst_resmng_noversion.moc"
