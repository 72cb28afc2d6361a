// The cross-process lock under which a run finds free drive letters, defines them and writes its
// mount record: finding a free letter and defining it is not atomic between processes.
#pragma once

#include "common/failure.hpp"
#include "common/resource.hpp"

#include <span>

inline constexpr const char* DRIVE_ALLOCATION_MUTEX = "Local\\Norix.NativeSandbox.DriveAllocation";

// A held mutex: given up, then closed.
struct HeldMutexTraits : HandleTraits {
    static void release(HANDLE mutex) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
};

// The named mutex of the current Windows session, held. Move-only; the holder gives the mutex up
// by release() or by going out of scope.
class DriveAllocationLock {
public:
    // Waits without a time limit. A mutex abandoned by a holder that ended counts as acquired.
    // With `stop_events` (borrowed), the wait ends without the lock once one of them is set.
    [[nodiscard]] static Result<DriveAllocationLock>
    acquire(std::span<const HANDLE> stop_events = {});

    // ReleaseMutex, then CloseHandle; failures are ignored. Does nothing when no longer held.
    void release() { mutex_.reset(); }

private:
    explicit DriveAllocationLock(UniqueHandle mutex) : mutex_(mutex.release()) {}

    UniqueResource<HeldMutexTraits> mutex_;
};
