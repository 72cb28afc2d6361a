// What the console control handler tells a run, from a thread of its own, and the one thing it
// may do to the run: end the child's tree through the job.
#pragma once

#include "common/resource.hpp"

#include <mutex>

class StopSignal {
public:
    // `event`: a manual-reset event, not set, owned from here on.
    explicit StopSignal(UniqueHandle event) : event_(std::move(event)) {}
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    // Borrowed, for a wait that must also end when the run is stopped.
    HANDLE event() const { return event_.get(); }
    void raise() const;
    bool raised() const;

    // The job of the running child, for end_job. The child's owner withdraws it before closing
    // the handle, so the handler never uses a closed job.
    void publish_job(HANDLE job);
    void withdraw_job();
    // Ends every process of the published job, if there is one, as Windows' default handler
    // would have ended them: with STATUS_CONTROL_C_EXIT.
    void end_job();

private:
    UniqueHandle event_;
    std::mutex job_lock_;
    HANDLE job_ = nullptr;
};
