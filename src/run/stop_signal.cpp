#include "run/stop_signal.hpp"

void StopSignal::raise() const {
    SetEvent(event_.get());
}

bool StopSignal::raised() const {
    return WaitForSingleObject(event_.get(), 0) == WAIT_OBJECT_0;
}

void StopSignal::publish_job(HANDLE job) {
    const std::lock_guard lock(job_lock_);
    job_ = job;
}

void StopSignal::withdraw_job() {
    const std::lock_guard lock(job_lock_);
    job_ = nullptr;
}

void StopSignal::end_job() {
    // Held across the call, so the run cannot close the job under it.
    const std::lock_guard lock(job_lock_);
    if (job_ != nullptr) {
        TerminateJobObject(job_, STATUS_CONTROL_C_EXIT);
    }
}
