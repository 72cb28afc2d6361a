#include "mounts/drive_allocation_lock.hpp"

#include "common/text.hpp"
#include "common/windows_error.hpp"

#include <string>
#include <vector>

Result<DriveAllocationLock> DriveAllocationLock::acquire(std::span<const HANDLE> stop_events) {
    UniqueHandle mutex;
    {
        const WideString name = to_wide(DRIVE_ALLOCATION_MUTEX);
        // An existing mutex of this name is opened instead (last error 183); both are the lock.
        mutex.reset(CreateMutexW(nullptr, // default security
                                 FALSE,   // not owned until the wait below
                                 name.c_str()));
    }
    if (!mutex) {
        return std::unexpected(win32_failure("cannot create sandbox allocation lock"));
    }
    DWORD waited = 0;
    const auto lock_index = static_cast<DWORD>(stop_events.size());
    if (stop_events.empty()) {
        waited = WaitForSingleObject(mutex.get(), INFINITE);
    } else {
        // The events first: of several signalled objects the wait takes the lowest, so a stopped
        // run never takes the lock.
        std::vector<HANDLE> objects(stop_events.begin(), stop_events.end());
        objects.push_back(mutex.get());
        waited = WaitForMultipleObjects(lock_index + 1, objects.data(), FALSE, INFINITE);
        if (waited < WAIT_OBJECT_0 + lock_index) {
            return interrupted();
        }
    }
    if (waited != WAIT_OBJECT_0 + lock_index && waited != WAIT_ABANDONED_0 + lock_index) {
        return failure("cannot acquire sandbox allocation lock: " + std::to_string(waited));
    }
    return DriveAllocationLock(std::move(mutex));
}
