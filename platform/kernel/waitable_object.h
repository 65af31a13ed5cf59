// Kernel objects that WaitForSingleObject can wait on. A new kind (an event, a mutex) derives from
// this instead of KernelObject and says when it is signalled; the one wait function dispatches.
#pragma once

#include "platform/kernel/kernel_object.h"

namespace velmora::kernel {

class WaitableObject : public KernelObject {
public:
    // True once signalled, false when dwMilliseconds passed first (INFINITE: no limit).
    virtual bool WaitUntilSignalled(DWORD dwMilliseconds) = 0;
};

}  // namespace velmora::kernel
