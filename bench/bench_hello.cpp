// The yardstick for bench_desktop's start-up figure: a trivial window of the updater's size.
// It writes "shown" to stderr when its loop runs with the window on the screen.

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(547, 450);
    QLabel hello(QStringLiteral("Hello"), &window);
    hello.move(8, 8);
    window.show();
    QTimer::singleShot(0, [] {
        std::fputs("shown\n", stderr);
        std::fflush(stderr);
    });
    return app.exec();
}
