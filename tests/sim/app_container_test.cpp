// The AppContainer profile and its SID.
#include "run/app_container.hpp"
#include "sim/sim_fixture.hpp"

namespace {

using ProfileSid = SimulatedWindows;

TEST(HresultText, LowerCaseHexWithoutLeadingZeros) {
    EXPECT_EQ(hresult_text(E_ACCESSDENIED), "0x80070005");
    EXPECT_EQ(hresult_text(static_cast<HRESULT>(0xFEDCBA98)), "0xfedcba98");
    EXPECT_EQ(hresult_text(0x1234567), "0x1234567");
    EXPECT_EQ(hresult_text(0), "0x0");
}

TEST_F(ProfileSid, CreatedOnceThenDerivedWhateverTheCase) {
    {
        const auto first = obtain_profile_sid(to_wide("Norix.Agent_1"));
        EXPECT_EQ(sim::sid_text(first->get()), sim::app_container_sid("norix.agent_1"));
        const auto second = obtain_profile_sid(to_wide("NORIX.AGENT_1"));
        EXPECT_EQ(sim::sid_text(second->get()), sim::sid_text(first->get()));
        EXPECT_EQ(sim::unfreed_sids(), 2U);
    }
    EXPECT_EQ(sim::unfreed_sids(), 0U);
    const std::string rest = " | Norix isolated Agent process | null 0";
    EXPECT_EQ(
        sim::journal(),
        (Strings{"CreateAppContainerProfile Norix.Agent_1 | Norix.Agent_1" + rest,
                 "CreateAppContainerProfile NORIX.AGENT_1 | NORIX.AGENT_1" + rest,
                 "DeriveAppContainerSidFromAppContainerName NORIX.AGENT_1", "FreeSid", "FreeSid"}));
}

TEST_F(ProfileSid, FailureCodesOnly) {
    const std::tuple<std::optional<sim::Fault>, const char*, const char*> cases[] = {
        {fault_on("CreateAppContainerProfile", 0x80070005U), "p",
         "cannot create AppContainer profile: HRESULT 0x80070005"},
        {std::nullopt, "", "cannot create AppContainer profile: HRESULT 0x80070057"},
        // The derivation's own result is reported, not the creation's.
        {fault_on("DeriveAppContainerSidFromAppContainerName", 0x80070057U), "existing",
         "cannot derive AppContainer SID: HRESULT 0x80070057"},
        {fault_on("CreateAppContainerProfile", 1), "p", "(success)"}, // S_FALSE
    };
    for (const auto& [fault, profile, expected] : cases) {
        sim::reset();
        ASSERT_TRUE(obtain_profile_sid(to_wide("existing")).has_value());
        if (fault) {
            sim::inject(*fault);
        }
        const auto sid = obtain_profile_sid(to_wide(profile));
        EXPECT_EQ(sid ? "(success)" : sid.error().message, expected);
        EXPECT_EQ(sim::unfreed_sids(), 0U) << expected;
    }
}

} // namespace
