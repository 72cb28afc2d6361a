// The AppContainer profile; its calls and failures are in the run's journal and failure table.
#include "run/app_container.hpp"
#include "sim/sim_fixture.hpp"

namespace {

using ProfileSid = SimulatedWindows;

// Only a failure code fails the creation: S_FALSE is a success like S_OK.
TEST_F(ProfileSid, CreationFailsOnlyWithAFailureCode) {
    sim::inject(fault_on("CreateAppContainerProfile", 1)); // S_FALSE
    EXPECT_TRUE(obtain_profile_sid(to_wide("agent")).has_value());
}

} // namespace
