#include <win/HandleTable.h>
#include <win/WinDef.h>

#include <QTest>

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

class TestHandleTable : public QObject {
    Q_OBJECT
private slots:
    // Handles count up from the first, are not reused, and end at the last.
    void handlesCountUpToTheLast()
    {
        win::THandleTable<std::uintptr_t, int> table(0x100, 0x102);
        QCOMPARE(table.Add(7), std::uintptr_t(0x100));
        QCOMPARE(table.Add(8), std::uintptr_t(0x101));
        QCOMPARE(table.Release(0x100), std::optional<int>(7));
        QCOMPARE(table.Add(9), std::uintptr_t(0x102));
        QCOMPARE(table.Add(10), std::uintptr_t(0));
        QCOMPARE(table.Find(0x100), std::nullopt);
        QCOMPARE(table.Release(0x100), std::nullopt);
        QCOMPARE(table.Count(), 2);
    }

    // A value held already gets its handle again; the handle goes with the last reference.
    void referencesCount()
    {
        win::THandleTable<HANDLE, int> table;
        const HANDLE first = table.AddReference(5);
        QCOMPARE(table.AddReference(5), first);
        const HANDLE other = table.AddReference(6);
        QVERIFY(other != first && other != nullptr && other != INVALID_HANDLE_VALUE);
        QCOMPARE(table.Release(first), std::optional<int>(5));
        QCOMPARE(table.Find(first), std::optional<int>(5));
        QCOMPARE(table.Release(first), std::optional<int>(5));
        QCOMPARE(table.Find(first), std::nullopt);
        QCOMPARE(table.Entries().size(), std::size_t(1));
        QCOMPARE(table.Entries().front().first, other);
    }

    // A released value is destroyed by the caller, not under the table's lock: its
    // destructor may use the table.
    void releasedValueGoesOutsideTheLock()
    {
        win::THandleTable<std::uintptr_t, std::shared_ptr<int>> table;
        struct TProbe {
            win::THandleTable<std::uintptr_t, std::shared_ptr<int>>& Table;
            void operator()(int* AValue) const
            {
                Table.Count();
                delete AValue;
            }
        };
        const std::uintptr_t handle = table.Add(std::shared_ptr<int>(new int(1), TProbe{table}));
        QVERIFY(table.Release(handle));
        QCOMPARE(table.Count(), 0);
    }

    void threadsGetDistinctHandles()
    {
        win::THandleTable<std::uintptr_t, int> table;
        constexpr int cThreads = 4, cEach = 500;
        std::vector<std::vector<std::uintptr_t>> handles(cThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < cThreads; ++t)
            threads.emplace_back([&table, &mine = handles[t]] {
                for (int i = 0; i < cEach; ++i) {
                    mine.push_back(table.Add(i));
                    if (i % 2)
                        table.Release(mine.back());
                }
            });
        for (std::thread& thread : threads)
            thread.join();
        std::vector<std::uintptr_t> all;
        for (const auto& mine : handles)
            all.insert(all.end(), mine.begin(), mine.end());
        std::sort(all.begin(), all.end());
        QVERIFY(std::adjacent_find(all.begin(), all.end()) == all.end());
        QCOMPARE(all.front(), std::uintptr_t(1));
        QCOMPARE(all.back(), std::uintptr_t(cThreads * cEach));
        QCOMPARE(table.Count(), cThreads * cEach / 2);
    }
};

QTEST_GUILESS_MAIN(TestHandleTable)
#include "tst_handle_table.moc"
