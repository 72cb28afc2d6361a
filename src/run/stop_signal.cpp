#include "run/stop_signal.hpp"

#include "common/text.hpp"
#include "common/windows_error.hpp"

namespace {

bool is_set(HANDLE event) {
    return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

} // namespace

Result<void> StopSignal::watch_host_event(std::string_view name) {
    const WideString wide = to_wide(name);
    host_event_.reset(OpenEventW(SYNCHRONIZE, // waiting is all the run does with it
                                 FALSE,       // not inheritable: no child gets it
                                 wide.c_str()));
    if (!host_event_) {
        return std::unexpected(win32_failure("cannot open stop event " + std::string(name)));
    }
    events_[1] = host_event_.get();
    return {};
}

void StopSignal::raise() const {
    SetEvent(event_.get());
}

bool StopSignal::raised() const {
    return is_set(event_.get()) || (host_event_ && is_set(host_event_.get()));
}

bool StopSignal::raised_by_console() const {
    return is_set(event_.get());
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
