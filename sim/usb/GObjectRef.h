#pragma once
// Owning handles for the GLib objects the testbed holds: each one released exactly once.

#include <glib-object.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace sim::usb {

struct GObjectUnref {
    void operator()(gpointer AObject) const { g_object_unref(AObject); }
};
template <typename T>
using GObjectRef = std::unique_ptr<T, GObjectUnref>;

struct GErrorFree {
    void operator()(GError* AError) const { g_error_free(AError); }
};
using GErrorRef = std::unique_ptr<GError, GErrorFree>;

struct GFree {
    void operator()(gpointer AMemory) const { g_free(AMemory); }
};
using GCharRef = std::unique_ptr<gchar, GFree>;

// Throws when a GLib call reported an error (AError is released either way).
inline void throwIf(GError* AError, const std::string& AWhat) {
    GErrorRef error(AError);
    if (error) throw std::runtime_error(AWhat + ": " + error->message);
}

}  // namespace sim::usb
