#include "mounts/drive_allocation_lock.hpp"

#include "common/text.hpp"
#include "common/windows_error.hpp"

#include <string>

Result<DriveAllocationLock> DriveAllocationLock::acquire(HANDLE stop_event) {
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
    DWORD lock_index = 0;
    if (stop_event == nullptr) {
        waited = WaitForSingleObject(mutex.get(), INFINITE);
    } else {
        // The event first: of several signalled objects the wait takes the lowest, so a stopped
        // run never takes the lock.
        const HANDLE objects[] = {stop_event, mutex.get()};
        waited = WaitForMultipleObjects(2, objects, FALSE, INFINITE);
        if (waited == WAIT_OBJECT_0) {
            return interrupted();
        }
        lock_index = 1;
    }
    if (waited != WAIT_OBJECT_0 + lock_index && waited != WAIT_ABANDONED_0 + lock_index) {
        return failure("cannot acquire sandbox allocation lock: " + std::to_string(waited));
    }
    return DriveAllocationLock(std::move(mutex));
}
