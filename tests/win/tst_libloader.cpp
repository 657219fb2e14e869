#include <win/LibLoaderApi.h>
#include <win/StringApiSet.h>
#include <win/WinError.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <dlfcn.h>

#include <limits>

namespace {

using TAnswer = int (*)();

int CallAnswer(HMODULE AModule)
{
    FARPROC proc = GetProcAddress(AModule, "probe_answer");
    return proc ? reinterpret_cast<TAnswer>(proc)() : -1;
}

}  // namespace

class TestLibLoader : public QObject {
    Q_OBJECT
private slots:
    void loadFindAndFree()
    {
        const HMODULE module = LoadLibraryW(PROBE_LIBRARY);
        QVERIFY2(module != 0, qPrintable(GetLastErrorText()));
        QVERIFY(module <= HMODULE(std::numeric_limits<std::int32_t>::max()));
        QCOMPARE(CallAnswer(module), 42);
        QVERIFY(!GetProcAddress(module, "probe_question"));
        QVERIFY(!GetProcAddress(module, "PROBE_ANSWER"));
        QVERIFY(FreeLibrary(module));
        // A freed handle finds nothing and cannot be freed twice.
        QVERIFY(!GetProcAddress(module, "probe_answer"));
        QVERIFY(!FreeLibrary(module));
    }

    void noHandleFindsNothing()
    {
        QVERIFY(!GetProcAddress(0, "probe_answer"));
        QVERIFY(!GetProcAddress(0, "dlopen"));
        QVERIFY(!GetProcAddress(HMODULE(-1), "probe_answer"));
        QVERIFY(!FreeLibrary(0));
    }

    void sameLibraryCountsReferences()
    {
        const HMODULE first = LoadLibraryW(PROBE_LIBRARY);
        const HMODULE second = LoadLibraryW(PROBE_LIBRARY);
        QVERIFY(first != 0);
        QCOMPARE(second, first);
        QVERIFY(FreeLibrary(first));
        QCOMPARE(CallAnswer(first), 42);
        QVERIFY(FreeLibrary(first));
        QVERIFY(!GetProcAddress(first, "probe_answer"));
    }

    void handlesAreNotReused()
    {
        const HMODULE first = LoadLibraryW(PROBE_LIBRARY);
        QVERIFY(FreeLibrary(first));
        const HMODULE second = LoadLibraryW(PROBE_LIBRARY);
        QVERIFY(second != 0);
        QVERIFY(second != first);
        QVERIFY(FreeLibrary(second));
    }

    // Symbols stay local: another library's lookups do not see them.
    void symbolsStayLocal()
    {
        const HMODULE module = LoadLibraryW(PROBE_LIBRARY);
        QVERIFY(module != 0);
        QCOMPARE(dlsym(RTLD_DEFAULT, "probe_answer"), nullptr);
        QVERIFY(FreeLibrary(module));
    }

    // Unresolved symbols fail the load at once rather than at the first call.
    void bindsImmediately()
    {
        QCOMPARE(LoadLibraryW(UNRESOLVED_LIBRARY), HMODULE(0));
        QVERIFY2(GetLastErrorText().contains("probe_nowhere_to_be_found"), qPrintable(GetLastErrorText()));
    }

    void failedLoadsLeaveAReason_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("reasonPart");
        QTest::newRow("missing file") << "/nonexistent/BSL430.dll" << "/nonexistent/BSL430.dll";
        QTest::newRow("empty name") << "" << "Invalid library file name";
        QTest::newRow("embedded NUL") << QString(PROBE_LIBRARY).append(QChar(0)).append("x") << "Invalid library file name";
    }
    void failedLoadsLeaveAReason()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, reasonPart);
        QCOMPARE(LoadLibraryW(fileName), HMODULE(0));
        QVERIFY2(GetLastErrorText().contains(reasonPart), qPrintable(GetLastErrorText()));
    }

    // The loader's failures are the thread's last error like any other call's: a code with
    // the loader's reason, replaced by the next failure.
    void failuresAreTheLastError()
    {
        SetLastError(ERROR_SUCCESS);
        QCOMPARE(LoadLibraryW("/nonexistent/BSL430.dll"), HMODULE(0));
        QCOMPARE(GetLastError(), ERROR_MOD_NOT_FOUND);
        QVERIFY2(GetLastErrorText().contains("/nonexistent/BSL430.dll"), qPrintable(GetLastErrorText()));
        QVERIFY(!FreeLibrary(0));
        QCOMPARE(GetLastError(), ERROR_INVALID_HANDLE);
        QCOMPARE(GetLastErrorText(), QStringLiteral("Invalid module handle"));
        SetLastError(ERROR_INVALID_DATA);
        QCOMPARE(GetLastErrorText(), QStringLiteral("The data is invalid."));
    }

    void notALibrary()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath("BSL430.dll"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("MZ this is no shared object\n");
        file.close();
        QCOMPARE(LoadLibraryW(file.fileName()), HMODULE(0));
        QVERIFY(!GetLastErrorText().isEmpty());
    }

    // A library loads from any path, whatever its name ends in or holds.
    void loadsFromAnyName()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QString::fromUtf8("trelmint-\u00e4\u20ac/BSL430.dll"));
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QVERIFY(QFile::copy(PROBE_LIBRARY, path));
        const HMODULE module = LoadLibraryW(path);
        QVERIFY2(module != 0, qPrintable(GetLastErrorText()));
        QCOMPARE(CallAnswer(module), 42);
        QVERIFY(FreeLibrary(module));
    }

    void toCodePage_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QString() << QByteArray();
        QTest::newRow("device string") << "VID=0x2047,PID=0x200,DEVICEINDEX=0" << QByteArray("VID=0x2047,PID=0x200,DEVICEINDEX=0");
        QTest::newRow("accents and euro") << QString::fromUtf8("/tmp/\u00e4\u20ac.txt") << QByteArray("/tmp/\xc3\xa4\xe2\x82\xac.txt");
        QTest::newRow("lone surrogate") << QString(QChar(0xD800)) + "a" << QByteArray("?a");
    }
    void toCodePage()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        const QByteArray converted = WideCharToMultiByte(CP_ACP, text);
        QCOMPARE(converted, bytes);
        QVERIFY(converted.constData() != nullptr);
        QCOMPARE(converted.constData()[converted.size()], '\0');
    }

    void fromCodePage_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("null");
        QTest::addColumn<QString>("text");
        QTest::newRow("null pointer") << QByteArray() << true << QString();
        QTest::newRow("empty") << QByteArray() << false << QString();
        QTest::newRow("version text") << QByteArray("Vendor:[00],CI:[07],API:[08],PI:[38]") << false << "Vendor:[00],CI:[07],API:[08],PI:[38]";
        QTest::newRow("utf-8") << QByteArray("\xc3\xa4") << false << QString(QChar(0xE4));
        QTest::newRow("invalid byte") << QByteArray("\xff" "a") << false << QString(QChar(0xFFFD)) + "a";
    }
    void fromCodePage()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, null);
        QFETCH(QString, text);
        QCOMPARE(MultiByteToWideChar(CP_ACP, null ? nullptr : bytes.constData()), text);
    }
};

QTEST_GUILESS_MAIN(TestLibLoader)
#include "tst_libloader.moc"
