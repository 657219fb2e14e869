#include <spring/Container.h>

#include <QTest>

#include <thread>

namespace {
struct TService {
    int Id;
};
struct TOther {};
}  // namespace

class TestContainer : public QObject {
    Q_OBJECT
private slots:
    void init() { Spring_Container::Initialization(); }
    void cleanup() { Spring_Container::Finalization(); }

    void resolveRegisteredInstance()
    {
        TService service{7};
        GlobalContainer().RegisterInstance<TService>(&service);
        GlobalContainer().Build();
        QCOMPARE(GlobalContainer().Resolve<TService>(), &service);
        TService* fromThread = nullptr;
        std::thread([&] { fromThread = GlobalContainer().Resolve<TService>(); }).join();
        QCOMPARE(fromThread, &service);
    }

    void refusals()
    {
        TService service{1};
        GlobalContainer().RegisterInstance<TService>(&service);
        QVERIFY_THROWS_EXCEPTION(EResolveException, GlobalContainer().Resolve<TService>());
        GlobalContainer().Build();
        QVERIFY_THROWS_EXCEPTION(EResolveException, GlobalContainer().Resolve<TOther>());
        QVERIFY_THROWS_EXCEPTION(EContainerException, GlobalContainer().RegisterInstance<TOther>(nullptr));
        Spring_Container::Finalization();
        QVERIFY_THROWS_EXCEPTION(EContainerException, GlobalContainer());
    }
};

QTEST_GUILESS_MAIN(TestContainer)
#include "tst_container.moc"
