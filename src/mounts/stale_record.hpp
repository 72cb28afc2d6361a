// What stands at a mount record's path once its launcher may be gone, and the removal of the
// letters a record names: one code path for the cleanup program and for a run that finds the
// record of a killed run where its own goes.
#pragma once

#include "common/failure.hpp"
#include "common/resource.hpp"
#include "mounts/record_format.hpp"

#include <string_view>
#include <vector>

// What became of a recorded letter.
enum class LetterFate { Removed, MapsElsewhere, NoLongerDefined };

// "removed", "left, the letter now maps elsewhere", "left, the letter is no longer defined".
std::string_view fate_text(LetterFate fate);

struct LetterOutcome {
    RecordedMount mount;
    LetterFate fate;

    bool operator==(const LetterOutcome&) const = default;
};

// What stands at a record path, opened without following a link. A running launcher keeps its
// record open for writing, shared for reading and writing only, for the whole run; the open here
// asks for reading and deletion and shares only reading, so it fails with a sharing violation
// while any launcher holds the file, and while it is open no launcher can take the file.
class StandingRecord {
public:
    enum class State {
        Absent,    // nothing at the path
        Held,      // a running launcher holds it: not opened
        Link,      // a reparse point (a symbolic link, a junction): the link itself is open
        MoreNames, // a file with more than one name (hard links)
        Malformed, // a file that is no record
        Record,    // a record whose launcher has ended
    };

    // Fails with "cannot read mount record <path>: <reason>" when the path cannot be opened,
    // examined or read.
    [[nodiscard]] static Result<StandingRecord> open(const WideString& path);

    State state() const { return state_; }

    // The path without "\\?\", as messages show it.
    const std::string& shown() const { return shown_; }

    // For a Record: removes each recorded definition where its letter still holds it (beneath
    // others or not), in the record's order, appending what became of each letter to `outcomes`
    // as it goes. Fails with "cannot query the <drive> definitions: Win32 <code>" or "cannot
    // remove the <drive> definition: Win32 <code>", the letters after it untouched.
    [[nodiscard]] Result<void> remove_letters(std::vector<LetterOutcome>& outcomes) const;

    // For a Record: whether its scratch letter still maps onto `scratch_target`, the raw target
    // of a run's own scratch directory. Only a record that a run on that directory wrote and left
    // shows it; a file that anyone else put there, naming the letters of some other run, does not.
    // Fails as remove_letters does.
    [[nodiscard]] Result<bool> still_mounts_scratch(const std::string& scratch_target) const;

    // Deletes what was opened, through the open handle: a link itself, not what it leads to; one
    // name of a file with several. Fails with "cannot delete mount record <path>: <reason>".
    [[nodiscard]] Result<void> remove();

private:
    StandingRecord(State state, std::string shown, UniqueFile file, RecordedMounts mounts)
        : state_(state), shown_(std::move(shown)), file_(std::move(file)),
          mounts_(std::move(mounts)) {}

    State state_;
    std::string shown_;
    UniqueFile file_; // open for every state but Absent and Held
    RecordedMounts mounts_;
};
