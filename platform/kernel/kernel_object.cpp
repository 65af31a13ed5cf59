#include "platform/kernel/kernel_object.h"

#include <mutex>
#include <unordered_map>

namespace velmora::kernel {
namespace {

struct HandleTable {
    std::mutex lock;
    std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> objects;
    std::uintptr_t next = 4;
};

HandleTable& Table() {
    // Never destroyed: threads that outlive main() may still close handles on their way out.
    static HandleTable* table = new HandleTable;
    return *table;
}

std::uintptr_t Key(HANDLE handle) { return reinterpret_cast<std::uintptr_t>(handle); }

}  // namespace

HANDLE RegisterKernelObject(std::shared_ptr<KernelObject> object) {
    if (!object)
        return nullptr;
    HandleTable& table = Table();
    std::lock_guard guard(table.lock);
    std::uintptr_t key = table.next;
    table.next += 4;
    table.objects.emplace(key, std::move(object));
    return reinterpret_cast<HANDLE>(key);
}

std::shared_ptr<KernelObject> LookupKernelObject(HANDLE handle) {
    HandleTable& table = Table();
    std::lock_guard guard(table.lock);
    auto it = table.objects.find(Key(handle));
    return it == table.objects.end() ? nullptr : it->second;
}

bool ReleaseKernelHandle(HANDLE handle) {
    std::shared_ptr<KernelObject> doomed;
    {
        HandleTable& table = Table();
        std::lock_guard guard(table.lock);
        auto it = table.objects.find(Key(handle));
        if (it == table.objects.end())
            return false;
        doomed = std::move(it->second);
        table.objects.erase(it);
    }
    // The object's destructor runs here, outside the lock, so it may itself close handles.
    return true;
}

HANDLE DuplicateKernelHandle(HANDLE handle) { return RegisterKernelObject(LookupKernelObject(handle)); }

std::size_t OpenKernelHandleCount() {
    HandleTable& table = Table();
    std::lock_guard guard(table.lock);
    return table.objects.size();
}

}  // namespace velmora::kernel

extern "C" BOOL CloseHandle(HANDLE hObject) {
    if (!velmora::kernel::ReleaseKernelHandle(hObject)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
