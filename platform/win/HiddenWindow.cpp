#include "HiddenWindow.h"

#include "HandleTable.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

namespace {

struct TWindow {
    std::mutex Lock;
    std::condition_variable Idle;
    TWndMethod Method;
    bool Alive = true;
    int Busy = 0;
    std::thread::id Owner = std::this_thread::get_id();
    // Lives on the owner thread; queued messages run in its event loop. Read and cleared
    // under Lock, so a sender never posts to a receiver that is being deleted.
    QObject* Receiver = nullptr;
};

using TWindowTable = win::THandleTable<HWND, std::shared_ptr<TWindow>>;

TWindowTable& Table()
{
    static TWindowTable table;
    return table;
}

std::shared_ptr<TWindow> Find(HWND AWnd)
{
    return Table().Find(AWnd).value_or(nullptr);
}

// Runs the window method unless the window is gone; the method is kept until the last
// running message has returned, even when the window is released meanwhile.
void Dispatch(const std::shared_ptr<TWindow>& AWindow, TMessage& AMessage)
{
    {
        std::lock_guard guard(AWindow->Lock);
        if (!AWindow->Alive || !AWindow->Method)
            return;
        ++AWindow->Busy;
    }
    struct TLeave {
        TWindow& Window;
        ~TLeave()
        {
            TWndMethod released;
            {
                std::lock_guard guard(Window.Lock);
                if (--Window.Busy == 0 && !Window.Alive)
                    released = std::move(Window.Method);
            }
            Window.Idle.notify_all();
        }
    } leave{*AWindow};
    AWindow->Method(AMessage);
}

}  // namespace

HWND AllocateHWnd(TWndMethod AMethod)
{
    auto window = std::make_shared<TWindow>();
    window->Method = std::move(AMethod);
    window->Receiver = new QObject();
    return Table().Add(std::move(window));
}

void DeallocateHWnd(HWND AWnd)
{
    const std::shared_ptr<TWindow> window = Table().Release(AWnd).value_or(nullptr);
    if (!window)
        return;
    TWndMethod released;
    QObject* receiver = nullptr;
    {
        std::unique_lock guard(window->Lock);
        window->Alive = false;
        // On the owner thread a running message is the caller itself: it keeps the method
        // until it returns. Elsewhere the running message must end before the object goes.
        if (window->Owner != std::this_thread::get_id())
            window->Idle.wait(guard, [&] { return window->Busy == 0; });
        if (window->Busy == 0)
            released = std::move(window->Method);
        receiver = std::exchange(window->Receiver, nullptr);
    }
    if (receiver) {
        if (window->Owner == std::this_thread::get_id())
            delete receiver;
        else
            receiver->deleteLater();
    }
}

namespace win {

bool IsWindow(HWND AWnd)
{
    return Find(AWnd) != nullptr;
}

std::vector<HWND> HiddenWindows()
{
    std::vector<HWND> result;
    for (const auto& [handle, window] : Table().Entries())
        result.push_back(handle);
    return result;
}

bool SendWindowMessage(HWND AWnd, UINT AMsg, WPARAM AWParam, std::shared_ptr<const QByteArray> ARecord)
{
    std::shared_ptr<TWindow> window = Find(AWnd);
    if (!window)
        return false;
    if (window->Owner == std::this_thread::get_id()) {
        TMessage message{AMsg, AWParam, ARecord ? reinterpret_cast<LPARAM>(ARecord->constData()) : 0, 0};
        Dispatch(window, message);
        return true;
    }
    std::lock_guard guard(window->Lock);
    if (!window->Receiver)
        return false;
    // The receiver may go before the message runs; Qt then drops the message.
    return QMetaObject::invokeMethod(
        window->Receiver,
        [window, AMsg, AWParam, record = std::move(ARecord)] {
            TMessage message{AMsg, AWParam, record ? reinterpret_cast<LPARAM>(record->constData()) : 0, 0};
            try {
                Dispatch(window, message);
            } catch (const std::exception& e) {
                qCritical("Exception in a window method: %s", e.what());
            } catch (...) {
                qCritical("Exception in a window method");
            }
        },
        Qt::QueuedConnection);
}

}  // namespace win
