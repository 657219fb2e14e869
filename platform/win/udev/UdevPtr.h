#pragma once
// libudev's objects held by reference: each owner drops its reference when it goes.

#include <libudev.h>

#include <memory>

namespace win {

struct TUdevUnref {
    void operator()(udev* p) const { udev_unref(p); }
    void operator()(udev_enumerate* p) const { udev_enumerate_unref(p); }
    void operator()(udev_device* p) const { udev_device_unref(p); }
    void operator()(udev_monitor* p) const { udev_monitor_unref(p); }
};

template <class T>
using TUdevPtr = std::unique_ptr<T, TUdevUnref>;

}  // namespace win
