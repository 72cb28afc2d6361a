#include "mounts/drive_allocation_lock.hpp"

#include "common/text.hpp"
#include "common/trace.hpp"

#include <string>

Result<DriveAllocationLock> DriveAllocationLock::acquire() {
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
    const DWORD waited = WaitForSingleObject(mutex.get(), INFINITE);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        return failure("cannot acquire sandbox allocation lock: " + std::to_string(waited));
    }
    return DriveAllocationLock(std::move(mutex));
}

DriveAllocationLock& DriveAllocationLock::operator=(DriveAllocationLock&& other) noexcept {
    if (this != &other) {
        release();
        mutex_ = std::move(other.mutex_);
    }
    return *this;
}

void DriveAllocationLock::release() {
    if (!mutex_) {
        return;
    }
    const DWORD error = GetLastError();
    ReleaseMutex(mutex_.get());
    SetLastError(error);
    mutex_.reset();
}
