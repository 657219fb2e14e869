#pragma once
// Hidden windows (AllocateHWnd, DeallocateHWnd) and how the device world hands them
// messages.
//
// A window belongs to the thread that allocates it; its messages run there, one at a time,
// through that thread's Qt event loop (or at once when sent on that thread). Once
// DeallocateHWnd has returned, no message reaches the window method any more: a release on
// another thread waits for a message that is running at that moment to finish, so the
// method's object may be destroyed right after it. A window method must therefore not wait
// for the thread that releases its window.

#include <win/WinUser.h>

#include <QByteArray>

#include <functional>
#include <memory>
#include <vector>

using TWndMethod = std::function<void(TMessage& AMessage)>;

HWND AllocateHWnd(TWndMethod AMethod);
// An unknown or null handle is ignored.
void DeallocateHWnd(HWND AWnd);

namespace win {

// Whether AWnd is a live hidden window.
bool IsWindow(HWND AWnd);
// Every live hidden window.
std::vector<HWND> HiddenWindows();

// Hands AWnd the message AMsg with AWParam and, as lParam, the address of ARecord's bytes
// (0 without a record); the record stays valid while the method runs. On the window's own
// thread the method runs before this returns and an exception of the method leaves here;
// from another thread the message is queued on the window's thread, an exception there goes
// to the message loop's handling (a warning on standard error). False for a window that is
// gone.
bool SendWindowMessage(HWND AWnd, UINT AMsg, WPARAM AWParam,
                       std::shared_ptr<const QByteArray> ARecord = nullptr);

}  // namespace win
