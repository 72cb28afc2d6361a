#include "grants/grant.hpp"
#include "platform/simulated/control.hpp"
#include "run/app_container.hpp"
#include "sim/fault.hpp"

#include <gtest/gtest.h>

namespace {

const sim::AccessEntry ADMINISTRATORS{"S-1-5-32-544", 0x001F01FF, 3};

class MountGrant : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        sim::make_directory("C:\\Work\\Proj");
        sid_ = *obtain_profile_sid(to_wide("norix-test"));
        SetEnvironmentVariableW(to_wide("NORIX_SANDBOX_TRACE").c_str(), to_wide("").c_str());
        sim::clear_journal();
    }
    sim::AccessEntry granted() const { return {sim::sid_text(sid_.get()), 0x001301BF, 3}; }

    UniqueSid sid_;
    const WideString project_ = to_wide("\\\\?\\C:\\Work\\Proj");
};

TEST_F(MountGrant, MergesOneInheritableEntryThroughTheDisplayPath) {
    ASSERT_TRUE(grant_mount_access(project_, sid_.get()).has_value());
    EXPECT_EQ(sim::dacl_entries("C:\\Work\\Proj"),
              (std::vector<sim::AccessEntry>{ADMINISTRATORS, granted()}));
    EXPECT_EQ(sim::journal(), (std::vector<std::string>{
                                  "GetEnvironmentVariableW NORIX_SANDBOX_TRACE",
                                  "WriteFile stream 48",
                                  "GetEnvironmentVariableW NORIX_SANDBOX_TRACE",
                                  "WriteFile stream 23",
                                  "GetNamedSecurityInfoW C:\\Work\\Proj 1 4",
                                  "GetEnvironmentVariableW NORIX_SANDBOX_TRACE",
                                  "WriteFile stream 24",
                                  "SetEntriesInAclW 1",
                                  "GetEnvironmentVariableW NORIX_SANDBOX_TRACE",
                                  "WriteFile stream 22",
                                  "SetNamedSecurityInfoW C:\\Work\\Proj 1 4",
                                  "LocalFree acl",
                                  "LocalFree security descriptor",
                                  "GetEnvironmentVariableW NORIX_SANDBOX_TRACE",
                                  "WriteFile stream 23",
                              }));
    EXPECT_EQ(sim::stderr_text(), "sandbox-stage=grant-mount path=\\\\?\\C:\\Work\\Proj\n"
                                  "sandbox-stage=acl-read\n"
                                  "sandbox-stage=acl-merge\n"
                                  "sandbox-stage=acl-set\n"
                                  "sandbox-stage=acl-done\n");
    EXPECT_EQ(sim::unfreed_blocks(), 0U);
}

TEST_F(MountGrant, NullDaclGivesOnlyTheNewEntry) {
    sim::set_null_dacl("C:\\Work\\Proj");
    ASSERT_TRUE(grant_mount_access(project_, sid_.get()).has_value());
    EXPECT_EQ(sim::dacl_entries("C:\\Work\\Proj"), std::vector<sim::AccessEntry>{granted()});
}

TEST_F(MountGrant, SecondGrantMergesIntoTheFirst) {
    ASSERT_TRUE(grant_mount_access(project_, sid_.get()).has_value());
    ASSERT_TRUE(grant_mount_access(project_, sid_.get()).has_value());
    EXPECT_EQ(sim::dacl_entries("C:\\Work\\Proj"),
              (std::vector<sim::AccessEntry>{ADMINISTRATORS, granted()}));
}

TEST_F(MountGrant, ShareIsNamedPlainButReportedCanonical) {
    sim::add_share("srv", "share");
    sim::make_directory("\\\\srv\\share\\proj");
    sim::deny_access("\\\\srv\\share\\proj");
    const auto result = grant_mount_access(to_wide("\\\\?\\UNC\\srv\\share\\proj"), sid_.get());
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().message, "cannot read ACL for \\\\?\\UNC\\srv\\share\\proj: Win32 5");
    EXPECT_EQ(sim::journal_of("GetNamedSecurityInfoW"),
              std::vector<std::string>{"GetNamedSecurityInfoW \\\\srv\\share\\proj 1 4"});
}

TEST_F(MountGrant, FailuresReleaseEverything) {
    struct Case {
        sim::Fault fault;
        const char* message;
        const char* last_stage;
        std::vector<std::string> frees;
    };
    const Case cases[] = {
        {fault_on("GetNamedSecurityInfoW", 5),
         "cannot read ACL for \\\\?\\C:\\Work\\Proj: Win32 5",
         "acl-read",
         {}},
        {fault_on("SetEntriesInAclW", 1337),
         "cannot merge ACL for \\\\?\\C:\\Work\\Proj: Win32 1337",
         "acl-merge",
         {"LocalFree security descriptor"}},
        {fault_on("SetNamedSecurityInfoW", 5),
         "cannot set ACL for \\\\?\\C:\\Work\\Proj: Win32 5",
         "acl-done",
         {"LocalFree acl", "LocalFree security descriptor"}},
    };
    for (const auto& c : cases) {
        sim::set_stderr(sim::StreamKind::Pipe);
        sim::clear_journal();
        sim::inject(c.fault);
        const auto result = grant_mount_access(project_, sid_.get());
        ASSERT_FALSE(result.has_value()) << c.message;
        EXPECT_EQ(result.error().message, c.message);
        EXPECT_TRUE(
            sim::stderr_text().ends_with("sandbox-stage=" + std::string(c.last_stage) + "\n"))
            << sim::stderr_text();
        EXPECT_EQ(sim::journal_of("LocalFree"), c.frees) << c.message;
        EXPECT_EQ(sim::unfreed_blocks(), 0U) << c.message;
        EXPECT_EQ(sim::dacl_entries("C:\\Work\\Proj"),
                  std::vector<sim::AccessEntry>{ADMINISTRATORS});
    }
}

} // namespace
