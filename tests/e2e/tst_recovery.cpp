// An update that loses the analyzer at any step of its sequence leaves a device that comes
// back in its boot loader when plugged in again, and a second update then puts the image in
// flash. The steps are taken from the commands of a whole update: the first and the last of
// every run of one command, and the middle of the long ones.
//
// Plugging in again is the device's power-up: the boot code starts the boot loader when the
// reset vector is blank; otherwise the firmware runs, and the user switches it to update mode
// from its menu, which only a whole firmware (the old or the new one) can do. A device whose
// reset vector is programmed while the rest of its firmware is not would run a broken
// firmware and need the boot loader's hardware entry: no step may leave that state.

#include "FlashingHarness.h"

#include <QTest>

#include <map>

Q_DECLARE_METATYPE(sim::Faults)

namespace {

constexpr std::uint32_t cResetVector = 0xFFFE;

enum class TPowerUp { BootLoader, OldFirmware, NewFirmware, BrokenFirmware };

const char* Name(TPowerUp AHow)
{
    switch (AHow) {
    case TPowerUp::BootLoader: return "boot loader (blank reset vector)";
    case TPowerUp::OldFirmware: return "old firmware";
    case TPowerUp::NewFirmware: return "new firmware";
    case TPowerUp::BrokenFirmware: return "broken firmware";
    }
    return "";
}

bool Holds(const sim::Analyzer& AAnalyzer, const std::vector<TImageRun>& AImage)
{
    for (const TImageRun& run : AImage) {
        const auto held = AAnalyzer.read(run.Address, std::size_t(run.Bytes.size()));
        if (QByteArray(reinterpret_cast<const char*>(held.data()), qsizetype(held.size())) != run.Bytes)
            return false;
    }
    return true;
}

TPowerUp PowerUp(const sim::Analyzer& AAnalyzer, const std::vector<TImageRun>& AOld,
                 const std::vector<TImageRun>& ANew)
{
    const auto vector = AAnalyzer.read(cResetVector, 2);
    if (vector[0] == 0xFF && vector[1] == 0xFF)
        return TPowerUp::BootLoader;
    if (Holds(AAnalyzer, AOld))
        return TPowerUp::OldFirmware;
    if (Holds(AAnalyzer, ANew))
        return TPowerUp::NewFirmware;
    return TPowerUp::BrokenFirmware;
}

// The same device in update mode again: its info memory and flash as they were left.
std::shared_ptr<sim::Analyzer> PlugInAgain(const sim::Analyzer& AOld)
{
    auto analyzer = sim::Analyzer::create();
    for (const auto& [start, end] : {std::pair{0x1800u, 0x1A00u}, std::pair{0x8000u, 0x48000u}})
        analyzer->load(start, AOld.read(start, end - start));
    sim::Bus::instance().plug(analyzer);
    return analyzer;
}

struct TStep {
    std::uint8_t Code;
    int Count;  // 1-based among the commands of that code
};

QString CommandName(std::uint8_t ACode)
{
    static const std::map<std::uint8_t, QString> names{
        {0x10, "RX Data Block"}, {0x11, "RX Password"},  {0x12, "Erase Segment"},     {0x15, "Mass Erase"},
        {0x16, "CRC Check"},     {0x17, "Load PC"},      {0x18, "TX Data Block"},     {0x19, "TX BSL Version"},
        {0x1A, "TX Buffer Size"}, {0x1B, "RX Data Block Fast"}};
    const auto it = names.find(ACode);
    return it == names.end() ? QString::number(ACode, 16) : it->second;
}

}  // namespace

class TestRecovery : public QObject {
    Q_OBJECT
private:
    std::vector<TImageRun> FOld = ReadTiTxt(OLD_FIRMWARE);

    std::shared_ptr<sim::Analyzer> PlugWithOldFirmware(TFlashingHarness& AHarness, const sim::Faults& AFaults)
    {
        auto analyzer = AHarness.Plug(AFaults, false);
        for (const TImageRun& run : FOld)
            analyzer->load(run.Address, {run.Bytes.begin(), run.Bytes.end()});
        return analyzer;
    }

private slots:
    void unplugAtEachStep_data()
    {
        QTest::addColumn<sim::Faults>("faults");
        // The commands of a whole update, from a device with the firmware the package expects.
        std::vector<std::vector<std::uint8_t>> log;
        {
            TFlashingHarness harness;
            const auto analyzer = PlugWithOldFirmware(harness, {});
            const TRunResult r = harness.Run();
            QVERIFY(r.Result);
            log = analyzer->commandLog();
        }
        // The reset vector is the last flash word written.
        qsizetype lastWrite = -1;
        for (qsizetype i = 0; i < qsizetype(log.size()); ++i)
            if (log[i][0] == 0x1B && log[i].size() > 4) {
                const std::uint32_t addr = log[i][1] | log[i][2] << 8 | log[i][3] << 16;
                if (addr >= 0x8000)
                    lastWrite = i;
            }
        QVERIFY(lastWrite >= 0);
        const auto& last = log[std::size_t(lastWrite)];
        const std::uint32_t lastAddr = last[1] | last[2] << 8 | last[3] << 16;
        QVERIFY(lastAddr <= cResetVector && cResetVector < lastAddr + (last.size() - 4));

        std::map<std::uint8_t, int> counts;
        std::vector<std::pair<std::size_t, std::size_t>> runs;  // [first, last] of one command
        for (std::size_t i = 0; i < log.size(); ++i) {
            if (runs.empty() || log[runs.back().first][0] != log[i][0])
                runs.push_back({i, i});
            else
                runs.back().second = i;
        }
        std::vector<int> countAt(log.size());
        for (std::size_t i = 0; i < log.size(); ++i)
            countAt[i] = ++counts[log[i][0]];
        for (const auto& [first, lastOfRun] : runs) {
            std::vector<std::size_t> picks{first};
            if (lastOfRun - first > 2)
                picks.push_back((first + lastOfRun) / 2);
            if (lastOfRun != first)
                picks.push_back(lastOfRun);
            for (std::size_t at : picks) {
                sim::Faults faults;
                faults.unplugAfterCommand = log[at][0];
                faults.unplugAfterCount = countAt[at];
                const QString name = QString("command %1: %2 #%3").arg(at + 1).arg(CommandName(log[at][0])).arg(countAt[at]);
                QTest::newRow(qPrintable(name)) << faults;
            }
        }
    }

    void unplugAtEachStep()
    {
        QFETCH(sim::Faults, faults);
        TFlashingHarness harness;
        const auto analyzer = PlugWithOldFirmware(harness, faults);
        const TRunResult first = harness.Run();
        QVERIFY(!first.Exception);
        const std::vector<TImageRun> image = ReadTiTxt(harness.ResMng().BinFileFullPath());
        // A run that reports success has the image in flash, whatever came after it.
        if (first.Result)
            QVERIFY(Holds(*analyzer, image));

        const TPowerUp how = PowerUp(*analyzer, FOld, image);
        qInfo("%s; comes back through: %s", first.Result ? "reported done" : "failed", Name(how));
        QVERIFY2(how != TPowerUp::BrokenFirmware, "the device would run a half-written firmware");

        const auto again = PlugInAgain(*analyzer);
        const TRunResult second = harness.Run();
        QVERIFY(second.Result);
        QCOMPARE(second.Reports.last(), QString("100|Done!"));
        QString where;
        QVERIFY2(harness.FlashHoldsImage(*again, where), qPrintable(where));
        QCOMPARE(again->mode(), sim::Mode::Application);
    }
};

QTEST_GUILESS_MAIN(TestRecovery)
#include "tst_recovery.moc"
