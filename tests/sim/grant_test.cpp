// The grant of a directory to the AppContainer: one inheritable entry merged into its DACL.
#include "grants/grant.hpp"
#include "run/app_container.hpp"
#include "sim/sim_fixture.hpp"

namespace {

const sim::AccessEntry ADMINISTRATORS{"S-1-5-32-544", 0x001F01FF, 3, true};

class MountGrant : public SimulatedWindows {
protected:
    void SetUp() override {
        SimulatedWindows::SetUp();
        sim::make_directory("C:\\Work\\Proj");
        sid_ = *obtain_profile_sid(to_wide("norix-test"));
        trace_on();
        sim::clear_journal();
    }
    Result<void> grant() {
        return grant_mount_access(to_wide("\\\\?\\C:\\Work\\Proj"), sid_.get());
    }
    sim::AccessEntry granted() const { return {sim::sid_text(sid_.get()), 0x001301BF, 3}; }

    UniqueSid sid_;
};

// The calls of a grant are in the run's journal; here what the merge gives and how it fails.
TEST_F(MountGrant, NullDaclGivesTheEntryAlone) {
    sim::set_null_dacl("C:\\Work\\Proj"); // open to everyone
    ASSERT_TRUE(grant().has_value());
    EXPECT_EQ(sim::dacl_entries("C:\\Work\\Proj"), std::vector{granted()});
    EXPECT_EQ(sim::unfreed_blocks(), 0U);
}

TEST_F(MountGrant, ShareIsNamedPlainButReportedCanonical) {
    sim::add_share("srv", "share");
    sim::make_directory("\\\\srv\\share\\proj");
    sim::deny_access("\\\\srv\\share\\proj");
    const auto result = grant_mount_access(to_wide("\\\\?\\UNC\\srv\\share\\proj"), sid_.get());
    EXPECT_EQ(result.error().message, "cannot read ACL for \\\\?\\UNC\\srv\\share\\proj: Win32 5");
    EXPECT_EQ(sim::journal_of("GetNamedSecurityInfoW"),
              Strings{"GetNamedSecurityInfoW \\\\srv\\share\\proj 1 4"});
}

TEST_F(MountGrant, FailuresReleaseEverything) {
    struct Case {
        sim::Fault fault;
        const char* message;
        const char* last_stage;
        const char* frees;
    };
    const Case cases[] = {
        {fault_on("GetNamedSecurityInfoW", 5), "cannot read ACL for", "acl-read", ""},
        {fault_on("SetEntriesInAclW", 1337), "cannot merge ACL for", "acl-merge",
         "LocalFree security descriptor"},
        {fault_on("SetNamedSecurityInfoW", 5), "cannot set ACL for", "acl-done",
         "LocalFree acl; LocalFree security descriptor"},
    };
    for (const auto& c : cases) {
        sim::set_stderr(sim::StreamKind::Pipe);
        sim::clear_journal();
        sim::inject(c.fault);
        const auto result = grant();
        EXPECT_EQ(result.error().message, std::string(c.message) +
                                              " \\\\?\\C:\\Work\\Proj: Win32 " +
                                              std::to_string(c.fault.result));
        EXPECT_TRUE(
            sim::stderr_text().ends_with("sandbox-stage=" + std::string(c.last_stage) + "\n"))
            << sim::stderr_text();
        EXPECT_EQ(joined(sim::journal_of("LocalFree")), c.frees) << c.message;
        EXPECT_EQ(sim::unfreed_blocks(), 0U) << c.message;
        EXPECT_EQ(sim::dacl_entries("C:\\Work\\Proj"), std::vector{ADMINISTRATORS});
    }
}

} // namespace
