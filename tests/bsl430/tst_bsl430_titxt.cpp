// The library's TI-TXT reader, through its exports: what blocks a text gives, what it
// refuses and how, and the same bytes at the same addresses as srecord reads them.

#include "BslApi.h"
#include "Srecord.h"
#include "TestData.h"

#include <sim/Analyzer.h>

#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kSpace = MemoryMap::kSpace;

// "8000:AABBCC" for one block.
QString describe(const DataBlock& ABlock) {
    const QByteArray bytes(reinterpret_cast<const char*>(ABlock.data),
                           static_cast<int>(ABlock.numberOfBytes));
    return QString::number(ABlock.startAddr, 16).toUpper().rightJustified(4, '0') + ":" +
           QString::fromLatin1(bytes.toHex().toUpper());
}

QString writeFile(const QTemporaryDir& ADir, const QString& AName, const QByteArray& AText) {
    QFile f(ADir.filePath(AName));
    if (!f.open(QIODevice::WriteOnly) || f.write(AText) != AText.size()) return {};
    return f.fileName();
}

// While one lives, allocations of 64 KiB and more fail (the reader's bookkeeping for a 20-bit
// image is larger); the library in this process allocates through the operator below.
std::atomic<bool> gRefuseLarge{false};

struct RefuseLargeAllocations {
    RefuseLargeAllocations() { gRefuseLarge = true; }
    ~RefuseLargeAllocations() { gRefuseLarge = false; }
};

}  // namespace

void* operator new(std::size_t ASize) {
    if (gRefuseLarge && ASize >= 64 * 1024) throw std::bad_alloc();
    if (void* p = std::malloc(ASize ? ASize : 1)) return p;
    throw std::bad_alloc();
}

// The deletes must match the new above, or a checked allocator sees malloc freed by delete.
void operator delete(void* APointer) noexcept { std::free(APointer); }
void operator delete(void* APointer, std::size_t) noexcept { std::free(APointer); }

class TestBslTiTxt : public QObject {
    Q_OBJECT

    BslApi& bsl = BslApi::instance();
    QTemporaryDir tmp;
    std::shared_ptr<sim::Analyzer> analyzer;

    // Every block of a file in turn, as the flashing service reads it.
    QStringList fileBlocks(const QString& APath, int ACount) {
        QStringList blocks;
        if (bsl.BSL_openTI_TextForRead(APath.toUtf8().constData()) != 0) return {"not opened"};
        for (int guard = 0; bsl.BSL_moreDataToRead_TextFile() == 1 && guard < 100000; ++guard) {
            const DataBlock b = bsl.BSL_readTI_TextFile(ACount);
            if (b.numberOfBytes == 0 || b.numberOfBytes > static_cast<quint32>(ACount) ||
                b.numberOfBytes > BSL430_DATABLOCK_CAPACITY)
                blocks << "bad size " + QString::number(b.numberOfBytes);
            blocks << describe(b);
        }
        bsl.BSL_closeTI_Text();
        return blocks;
    }

    MemoryMap libraryMap(const QString& APath, int ACount) {
        MemoryMap map;
        if (bsl.BSL_openTI_TextForRead(APath.toUtf8().constData()) != 0) return map;
        while (bsl.BSL_moreDataToRead_TextFile() == 1) {
            const DataBlock b = bsl.BSL_readTI_TextFile(ACount);
            if (b.numberOfBytes == 0 || b.numberOfBytes > static_cast<quint32>(ACount)) break;
            for (quint32 i = 0; i < b.numberOfBytes; ++i) {
                const auto a = static_cast<int>(b.startAddr + i);
                if (a >= kSpace || map.given.testBit(a)) return MemoryMap{};  // never twice
                map.bytes[a] = static_cast<char>(b.data[i]);
                map.given.setBit(a);
            }
        }
        bsl.BSL_closeTI_Text();
        return map;
    }

private slots:
    void initTestCase() {
        QVERIFY(tmp.isValid());
        QVERIFY(!QStandardPaths::findExecutable("srec_cat").isEmpty());
        QVERIFY(!QStandardPaths::findExecutable("srec_info").isEmpty());
        // A device in the RAM BSL, to see that a refused image sends nothing.
        analyzer = sim::Analyzer::create();
        sim::Bus::instance().plug(analyzer);
        QCOMPARE(bsl.BSL_initialize_BSL("VID=0x2047,PID=0x200,DEVICEINDEX=0"), 0);
        QCOMPARE(bsl.BSL_RX_Password(bsl.BSL_getDefaultPass()), 0);
    }

    void cleanupTestCase() {
        bsl.BSL_close_BSL();
        sim::Bus::instance().unplugAll();
    }

    void blocks_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("one line") << QByteArray("@8000\nAA BB CC\nq\n") << 16
                                  << QStringList{"8000:AABBCC"};
        QTest::newRow("lower case, CR LF") << QByteArray("@8000\r\naa 0b\r\nq\r\n") << 16
                                           << QStringList{"8000:AA0B"};
        QTest::newRow("forced reset text") << QByteArray("@0120\r\n04 A5 \r\nq") << 32
                                           << QStringList{"0120:04A5"};
        QTest::newRow("blank lines and blanks")
            << QByteArray("\n  @8000 \t\n\n  AA\t BB  \n\n q \n\n") << 16 << QStringList{"8000:AABB"};
        QTest::newRow("runs that continue each other join")
            << QByteArray("@8000\nAA\n@8001\nBB CC\nq\n") << 16 << QStringList{"8000:AABBCC"};
        QTest::newRow("a gap keeps runs apart")
            << QByteArray("@8000\nAA\n@8002\nBB\nq\n") << 16 << QStringList{"8000:AA", "8002:BB"};
        QTest::newRow("file order kept")
            << QByteArray("@9000\nAA\n@8000\nBB\nq\n") << 16 << QStringList{"9000:AA", "8000:BB"};
        QTest::newRow("power of two: aligned windows")
            << QByteArray("@8001\n01 02 03 04 05\nq\n") << 2
            << QStringList{"8001:01", "8002:0203", "8004:0405"};
        QTest::newRow("other counts: from the run's start")
            << QByteArray("@8001\n01 02 03 04 05\nq\n") << 3 << QStringList{"8001:010203", "8004:0405"};
        QByteArray across = "@81F0\n";
        for (int i = 0; i < 32; ++i) across += QByteArray::number(0x10 + i, 16) + ' ';
        across += "\nq\n";
        QTest::newRow("512: one segment a block")
            << across << 512
            << QStringList{"81F0:101112131415161718191A1B1C1D1E1F",
                           "8200:202122232425262728292A2B2C2D2E2F"};
        QTest::newRow("only the end line") << QByteArray("q\n") << 16 << QStringList{};
        QTest::newRow("address line without data")
            << QByteArray("@8000\n@9000\nAA\nq") << 16 << QStringList{"9000:AA"};
        QTest::newRow("top of 20 bits") << QByteArray("@FFFFF\nAA\nq") << 16
                                        << QStringList{"FFFFF:AA"};
    }

    void blocks() {
        QFETCH(QByteArray, text);
        QFETCH(int, count);
        QFETCH(QStringList, expected);
        const QString path = writeFile(tmp, "blocks.txt", text);
        QCOMPARE(fileBlocks(path, count), expected);
        const DataBlock first = bsl.BSL_readTI_Text(text.constData(), count);
        QCOMPARE(describe(first), expected.value(0, "0000:"));
        QCOMPARE(bsl.lastError(), QString());
    }

    void countBelowOne_data() {
        QTest::addColumn<int>("count");
        QTest::newRow("0") << 0;
        QTest::newRow("-1") << -1;
        QTest::newRow("most negative") << int(INT32_MIN);
    }

    void countBelowOne() {
        // Refused, and the reading ends: a loop on "more data" must not spin for ever.
        QFETCH(int, count);
        const QString path = writeFile(tmp, "count.txt", "@8000\nAA BB\n@9000\nCC\nq\n");
        QCOMPARE(bsl.BSL_openTI_TextForRead(path.toUtf8().constData()), 0);
        QCOMPARE(bsl.BSL_readTI_TextFile(count).numberOfBytes, 0u);
        QVERIFY(bsl.lastError().contains(QString::number(count)));
        QCOMPARE(bsl.BSL_moreDataToRead_TextFile(), 0);
        QCOMPARE(bsl.BSL_readTI_TextFile(512).numberOfBytes, 0u);
        bsl.BSL_closeTI_Text();
        QCOMPARE(bsl.BSL_readTI_Text("@8000\nAA\nq\n", count).numberOfBytes, 0u);
        QVERIFY(!bsl.lastError().isEmpty());
    }

    void neverAboveCapacity() {
        QByteArray text = "@10000\n";
        for (int i = 0; i < 12000; ++i) text += (i % 16 == 15) ? "5A\n" : "5A ";
        text += "\nq\n";
        const QString path = writeFile(tmp, "big.txt", text);
        QCOMPARE(bsl.BSL_openTI_TextForRead(path.toUtf8().constData()), 0);
        QCOMPARE(bsl.BSL_readTI_TextFile(20000).numberOfBytes, 10240u);
        const DataBlock rest = bsl.BSL_readTI_TextFile(20000);
        QCOMPARE(rest.numberOfBytes, 1760u);
        QCOMPARE(rest.startAddr, 0x10000u + 10240u);
        QCOMPARE(bsl.BSL_moreDataToRead_TextFile(), 0);
        QCOMPARE(bsl.BSL_readTI_TextFile(512).numberOfBytes, 0u);
        bsl.BSL_closeTI_Text();
        QCOMPARE(bsl.BSL_readTI_Text(text.constData(), -5).numberOfBytes, 0u);
    }

    void malformed_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("diagnostic");

        QTest::newRow("bad hex pair") << QByteArray("@8000\nAA 0G\nq\n")
                                      << "line 2: \"0G\" is not a pair of hex digits";
        QTest::newRow("odd digit count") << QByteArray("@8000\nAA BBC\nq\n")
                                         << "line 2: \"BBC\" has an odd number of hex digits";
        QTest::newRow("single digit") << QByteArray("@8000\r\nA BB\r\nq\r\n")
                                      << "line 2: \"A\" has an odd number of hex digits";
        QTest::newRow("pairs not separated") << QByteArray("@8000\nAABB\nq\n")
                                             << "line 2: \"AABB\": bytes must be separated";
        QTest::newRow("data before any address line") << QByteArray("AA\n@8000\nBB\nq\n")
                                                      << "line 1: data before any address line";
        QTest::newRow("address beyond 20 bits") << QByteArray("@8000\nAA\n@100000\nBB\nq\n")
                                                << "line 3: address \"100000\" is beyond 20 bits";
        QTest::newRow("address too long") << QByteArray("@0000000000000000000FFFFFFFFFF\nq\n")
                                          << "is beyond 20 bits";
        QTest::newRow("bad address") << QByteArray("@80G0\nAA\nq\n") << "line 1: bad address";
        QTest::newRow("address line without address") << QByteArray("@\nAA\nq\n")
                                                      << "line 1: address line without an address";
        QTest::newRow("missing q") << QByteArray("@8000\nAA BB\n") << "\"q\" is missing";
        QTest::newRow("empty file") << QByteArray() << "\"q\" is missing";
        QTest::newRow("text after q") << QByteArray("@8000\nAA\nq\n@9000\nBB\n")
                                      << "line 4: text after the end line";
        QTest::newRow("data past 20 bits") << QByteArray("@FFFFF\nAA BB\nq\n")
                                           << "line 2: data runs past the 20-bit address range";
        QTest::newRow("data given twice") << QByteArray("@8000\nAA BB\n@8001\nCC\nq\n")
                                          << "line 4: data for 0x08001 given twice";
        QTest::newRow("NUL byte") << QByteArray("@8000\nAA\0BB\nq\n", 15)
                                  << "line 2: \"AA\\x00BB\" is not a pair";
    }

    void malformed() {
        QFETCH(QByteArray, text);
        QFETCH(QString, diagnostic);
        const QString path = writeFile(tmp, "malformed.txt", text);

        // A good file first: a refused one must not leave its blocks behind.
        const QString good = writeFile(tmp, "good.txt", "@8000\nAA\nq\n");
        QCOMPARE(bsl.BSL_openTI_TextForRead(good.toUtf8().constData()), 0);
        QCOMPARE(bsl.BSL_openTI_TextForRead(path.toUtf8().constData()), BSL430_TEXT_OPEN_FAILED);
        QVERIFY2(bsl.lastError().contains(diagnostic), qPrintable(bsl.lastError()));
        QVERIFY(bsl.lastError().contains(path));
        QCOMPARE(bsl.BSL_moreDataToRead_TextFile(), 0);
        QCOMPARE(bsl.BSL_readTI_TextFile(512).numberOfBytes, 0u);
        bsl.BSL_closeTI_Text();

        // Nothing of a damaged image reaches the device.
        const auto before = analyzer->commandLog().size();
        if (!text.contains('\0')) {  // a text in memory ends at its first NUL
            QCOMPARE(bsl.BSL_readTI_Text(text.constData(), 32).numberOfBytes, 0u);
            QVERIFY2(bsl.lastError().contains(diagnostic), qPrintable(bsl.lastError()));
            QCOMPARE(bsl.BSL_RX_TXT(text.constData(), 1), BSL430_ERR_BAD_IMAGE);
            QVERIFY(bsl.lastError().contains("nothing sent"));
        }
        QCOMPARE(bsl.BSL_RX_TXT_File(path.toUtf8().constData(), 1), BSL430_ERR_BAD_IMAGE);
        QCOMPARE(bsl.BSL_RX_TXT_File(path.toUtf8().constData(), 0), BSL430_ERR_BAD_IMAGE);
        QCOMPARE(analyzer->commandLog().size(), before);
    }

    void unreadableFiles() {
        const QByteArray missing = tmp.filePath("no such file").toUtf8();
        QCOMPARE(bsl.BSL_openTI_TextForRead(missing.constData()), BSL430_TEXT_OPEN_FAILED);
        QVERIFY(bsl.lastError().contains("No such file"));
        QCOMPARE(bsl.BSL_openTI_TextForRead(tmp.path().toUtf8().constData()), BSL430_TEXT_OPEN_FAILED);
        QCOMPARE(bsl.BSL_openTI_TextForRead(""), BSL430_TEXT_OPEN_FAILED);
        QCOMPARE(bsl.BSL_openTI_TextForRead(nullptr), BSL430_TEXT_OPEN_FAILED);
        QCOMPARE(bsl.BSL_moreDataToRead_TextFile(), 0);
        QCOMPARE(bsl.BSL_RX_TXT_File(missing.constData(), 1), BSL430_ERR_FILE);
        QCOMPARE(bsl.BSL_readTI_Text(nullptr, 32).numberOfBytes, 0u);
    }

    void onlyRegularFiles_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("FIFO without a writer") << tmp.filePath("fifo.txt");
        QTest::newRow("character device") << "/dev/zero";
        QTest::newRow("folder") << tmp.path();
    }

    void onlyRegularFiles() {
        // None of them may hold the caller: a FIFO's open or /dev/zero's reading never ends.
        QFETCH(QString, path);
        if (path.endsWith("fifo.txt") && !QFile::exists(path))
            QCOMPARE(::mkfifo(path.toUtf8().constData(), 0600), 0);
        const QByteArray name = path.toUtf8();
        QCOMPARE(bsl.BSL_openTI_TextForRead(name.constData()), BSL430_TEXT_OPEN_FAILED);
        QVERIFY2(bsl.lastError().contains("is not a regular file"), qPrintable(bsl.lastError()));
        QCOMPARE(bsl.BSL_RX_TXT_File(name.constData(), 1), BSL430_ERR_FILE);
        QCOMPARE(bsl.BSL_moreDataToRead_TextFile(), 0);
    }

    void failureInsideTheLibrary() {
        // Out of memory inside an export comes back as an answer, never as an exception
        // through the C interface.
        const QString path = writeFile(tmp, "oom.txt", "@8000\nAA\nq\n");
        const QByteArray name = path.toUtf8();
        {
            const RefuseLargeAllocations refuse;
            QCOMPARE(bsl.BSL_RX_TXT("@8000\nAA\nq\n", 1), BSL430_ERR_INTERNAL);
            QVERIFY2(bsl.lastError().contains("bad_alloc"), qPrintable(bsl.lastError()));
            QCOMPARE(bsl.BSL_openTI_TextForRead(name.constData()), BSL430_TEXT_OPEN_FAILED);
            QCOMPARE(bsl.BSL_readTI_Text("@8000\nAA\nq\n", 32).numberOfBytes, 0u);
            QVERIFY(!bsl.lastError().isEmpty());
        }
        QCOMPARE(bsl.BSL_openTI_TextForRead(name.constData()), 0);
        QCOMPARE(bsl.BSL_readTI_TextFile(32).numberOfBytes, 1u);
        bsl.BSL_closeTI_Text();
    }

    void sameAsSrecord_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("count");
        for (const ImageSet& set : imageSets()) {
            for (const char* file : {"Pass", "RAM_BSL", "ForcedBOR", "BinVorel"}) {
                for (int count : {512, 5000}) {
                    QTest::addRow("%s %s by %d", qPrintable(set.name), file, count)
                        << set.path(file) << count;
                }
            }
        }
    }

    void sameAsSrecord() {
        QFETCH(QString, path);
        QFETCH(int, count);
        const MemoryMap ours = libraryMap(path, count);
        const MemoryMap theirs = srecordMap(path, tmp.path());
        QVERIFY(theirs.given.count(true) > 0);
        QCOMPARE(ours.given.count(true), theirs.given.count(true));
        QVERIFY(ours.given == theirs.given);
        for (int a = 0; a < kSpace; ++a) {
            if (theirs.given.testBit(a) && ours.bytes[a] != theirs.bytes[a])
                QFAIL(qPrintable(QString("byte at 0x%1 differs").arg(a, 5, 16, QChar('0'))));
        }
    }

    void verboseDiagnostics() {
        const QString bad = writeFile(tmp, "verbose.txt", "@8000\nAA 0G\nq\n");
        const QString log = tmp.filePath("stderr.log");
        auto capture = [&](std::uint32_t AVerbose) {
            std::fflush(stderr);
            const int saved = dup(2);
            const int fd = ::open(log.toUtf8().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(fd, 2);
            ::close(fd);
            bsl.BSL_SetVerbose(AVerbose);
            bsl.BSL_openTI_TextForRead(bad.toUtf8().constData());
            bsl.BSL_SetVerbose(0);
            std::fflush(stderr);
            dup2(saved, 2);
            ::close(saved);
            QFile f(log);
            return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString("unread");
        };
        const QString loud = capture(1);
        QVERIFY2(loud.startsWith("bsl430: \"" + bad + "\": line 2: \"0G\""), qPrintable(loud));
        QCOMPARE(capture(0), QString());
    }

    void reportCallbackTakesTheDiagnostics() {
        const QString bad = writeFile(tmp, "reported.txt", "@8000\nAA 0G\nq\n");
        const QString log = tmp.filePath("stderr-reported.log");
        QStringList reported;
        const auto report = [](const char* AText, void* AContext) {
            static_cast<QStringList*>(AContext)->append(QString::fromUtf8(AText));
        };
        std::fflush(stderr);
        const int saved = dup(2);
        const int fd = ::open(log.toUtf8().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 2);
        ::close(fd);
        bsl.BSL_SetVerbose(1);
        bsl.BSL_setReportCallback(report, &reported);
        bsl.BSL_openTI_TextForRead(bad.toUtf8().constData());
        const QString lastError = QString::fromUtf8(bsl.BSL_getLastError());
        bsl.BSL_setReportCallback(nullptr, nullptr);
        bsl.BSL_SetVerbose(0);
        std::fflush(stderr);
        dup2(saved, 2);
        ::close(saved);
        // The diagnostic went to the callback alone, and setting it kept the last error.
        QCOMPARE(reported.size(), 1);
        QVERIFY2(reported[0].startsWith("\"" + bad + "\": line 2: \"0G\""), qPrintable(reported[0]));
        QCOMPARE(lastError, reported[0]);
        QFile f(log);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray());
    }

    void defaultPassword() {
        const DataBlock d = bsl.BSL_getDefaultPass();
        QCOMPARE(d.numberOfBytes, 32u);
        QCOMPARE(d.startAddr, 0xFFE0u);
        for (int i = 0; i < 32; ++i) QCOMPARE(d.data[i], std::uint8_t(0xFF));
    }
};

QTEST_GUILESS_MAIN(TestBslTiTxt)
#include "tst_bsl430_titxt.moc"
