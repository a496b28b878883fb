#pragma once

#include <glib-object.h>

#include <memory>

namespace sample_writer {

struct GObjectUnref {
    void operator()(gpointer object) const noexcept { g_object_unref(object); }
};

template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GErrorFree {
    void operator()(GError* error) const noexcept { g_error_free(error); }
};

using GErrorPtr = std::unique_ptr<GError, GErrorFree>;

}  // namespace sample_writer
