// device-probe: prints what the device world sees: at start the devices present in the
// watched classes, as the window's first search lists them, then every USB arrival and
// removal as the broadcast decoding reads it, and device-tree changes. Ends on Ctrl+C or
// after --count notices (present devices, arrivals and removals). Run it as it is, or inside
// analyzer-sim to watch the simulated bus.

#include <m.dvcList.h>
#include <m.dvcObserver.h>

#include <rtl/GUID.h>
#include <win/DeviceClassGuids.h>
#include <win/DeviceWorld.h>
#include <win/udev/UdevDeviceWorld.h>

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <memory>

#include <sys/socket.h>
#include <unistd.h>

namespace {

int gSignalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &byte, 1);
}

void Print(const char* AWhat, TStringList* AInfos)
{
    std::printf("%s\n", AWhat);
    for (const QString& line : AInfos->Lines())
        std::printf("  %s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    int limit = -1;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--count") && i + 1 < args.size()) {
            limit = args[++i].toInt();
        } else {
            std::fprintf(stderr, "usage: device-probe [--count N]\n");
            return 2;
        }
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, gSignalPipe) != 0)
        return 1;
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    QSocketNotifier stop(gSignalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &app, &QCoreApplication::quit);

    win::SelectDeviceWorld(win::LinuxDeviceWorld());
    int seen = 0;
    auto counted = [&] {
        if (limit > 0 && ++seen >= limit)
            QCoreApplication::quit();
    };
    {
        TdvcObserver observer;
        observer.RegClasses({GUID_DEVINTERFACE_USB_DEVICE, GUID_DEVCLASS_HIDCLASS});
        observer.SetOnArrived([&](TStringList* AInfos) { Print("arrived", AInfos); counted(); });
        observer.SetOnRemoved([&](TStringList* AInfos) { Print("removed", AInfos); counted(); });
        observer.SetOnChange([] { std::printf("device tree changed\n"); std::fflush(stdout); });
        for (const TGUID& watched : observer.RegClassesArray())
            std::printf("watching %s\n", GUIDToString(watched).toLatin1().constData());
        std::fflush(stdout);
        // The devices attached before the start, as the window's first search finds them.
        TdvcList present;
        present.ClearAndSearch(observer.RegClassesArray());
        TObservedInfos infos;
        for (std::int32_t i = 0; i < present.Count() && (limit <= 0 || seen < limit); ++i)
            if (present.AsInfos(i, &infos)) {
                Print("present", &infos);
                counted();
            }
        if (limit <= 0 || seen < limit)
            app.exec();
    }
    win::SelectDeviceWorld({});
    return 0;
}
