// What stops a run from outside: the console control handler, which signals from a thread of its
// own and may end the child's tree through the job, and the host's own event (--stop-event).
#pragma once

#include "common/failure.hpp"
#include "common/resource.hpp"

#include <mutex>
#include <span>
#include <string_view>

class StopSignal {
public:
    // `event`: a manual-reset event, not set, owned from here on.
    explicit StopSignal(UniqueHandle event) : event_(std::move(event)), events_{event_.get()} {}
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    // Opens the host's event for waiting only; from then on it stops the run as the console
    // handler does. Call it before anything may wait on events().
    [[nodiscard]] Result<void> watch_host_event(std::string_view name);
    // The host's event, or null without one.
    HANDLE host_event() const { return host_event_.get(); }

    // Borrowed, for a wait that must also end when the run is stopped: the console's event, then
    // the host's.
    std::span<const HANDLE> events() const { return {events_, host_event_ ? 2U : 1U}; }
    void raise() const;
    // Whether the console handler, or the host through its event, has asked the run to stop.
    bool raised() const;
    // Whether the console handler has.
    bool raised_by_console() const;

    // The job of the running child, for end_job. The child's owner withdraws it before closing
    // the handle, so the handler never uses a closed job.
    void publish_job(HANDLE job);
    void withdraw_job();
    // Ends every process of the published job, if there is one, as Windows' default handler
    // would have ended them: with STATUS_CONTROL_C_EXIT.
    void end_job();

private:
    UniqueHandle event_;
    UniqueHandle host_event_;
    HANDLE events_[2];
    std::mutex job_lock_;
    HANDLE job_ = nullptr;
};
