// Kernel objects and their handles.
//
// Every HANDLE the layer hands out (files, mappings, threads, events, mutexes, ...) names one
// object in a single process-wide table, so CloseHandle is the one way to close any of them and
// a stale or invented handle is refused with ERROR_INVALID_HANDLE instead of being dereferenced.
// Handle values are multiples of 4 that are never reused, and never 0 or INVALID_HANDLE_VALUE.
//
// A new kind of object is a class derived from KernelObject: its destructor releases what it
// holds, and it is registered with RegisterKernelObject. Look-ups hand out shared ownership, so an
// object that one thread is using stays alive while another thread closes its handle; it is
// destroyed when the last handle is closed and the last user lets go.
#pragma once

#include <memory>

#include "platform/kernel/win_types.h"

namespace velmora::kernel {

class KernelObject {
public:
    KernelObject() = default;
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;
    virtual ~KernelObject() = default;

    // A short name of the kind ("file", "mapping", "thread", ...), for diagnostics and tests.
    virtual const char* KindName() const = 0;
};

// Enters the object into the table and returns its new handle (null only when object is null).
HANDLE RegisterKernelObject(std::shared_ptr<KernelObject> object);

// The object behind a handle, or null for a handle that is not open.
std::shared_ptr<KernelObject> LookupKernelObject(HANDLE handle);

// The object behind a handle when it is of kind T, else null (the last error is then
// ERROR_INVALID_HANDLE).
template <class T> std::shared_ptr<T> LookupKernelObjectAs(HANDLE handle) {
    auto object = std::dynamic_pointer_cast<T>(LookupKernelObject(handle));
    if (!object)
        SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

// Removes the handle from the table; the object goes when nothing else holds it. False when the
// handle was not open. CloseHandle is this plus the last error.
bool ReleaseKernelHandle(HANDLE handle);

// A second handle to the same object (DuplicateHandle's core); null for a handle that is not open.
HANDLE DuplicateKernelHandle(HANDLE handle);

// Number of open handles, for leak tests.
std::size_t OpenKernelHandleCount();

}  // namespace velmora::kernel

extern "C" BOOL CloseHandle(HANDLE hObject);
