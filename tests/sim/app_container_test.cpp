#include "platform/simulated/control.hpp"
#include "run/app_container.hpp"
#include "sim/fault.hpp"

#include <gtest/gtest.h>

namespace {

class ProfileSid : public ::testing::Test {
protected:
    void SetUp() override { sim::reset(); }
};

TEST(HresultText, LowerCaseHexWithoutLeadingZeros) {
    EXPECT_EQ(hresult_text(E_ACCESSDENIED), "0x80070005");
    EXPECT_EQ(hresult_text(E_INVALIDARG), "0x80070057");
    EXPECT_EQ(hresult_text(E_OUTOFMEMORY), "0x8007000e");
    EXPECT_EQ(hresult_text(0), "0x0");
    EXPECT_EQ(hresult_text(0x1A), "0x1a");
}

TEST_F(ProfileSid, CreatedOnceThenDerivedWhateverTheCase) {
    {
        const auto first = obtain_profile_sid(to_wide("Norix.Agent 1"));
        ASSERT_TRUE(first.has_value());
        EXPECT_EQ(sim::sid_text(first->get()), sim::app_container_sid("norix.agent 1"));
        const auto second = obtain_profile_sid(to_wide("NORIX.AGENT 1"));
        ASSERT_TRUE(second.has_value());
        EXPECT_EQ(sim::sid_text(second->get()), sim::sid_text(first->get()));
        EXPECT_NE(second->get(), first->get());
        EXPECT_EQ(sim::unfreed_sids(), 2U);
    }
    EXPECT_EQ(sim::unfreed_sids(), 0U);
    const std::string rest = " | Norix isolated Agent process | 0";
    EXPECT_EQ(sim::journal(), (std::vector<std::string>{
                                  "CreateAppContainerProfile Norix.Agent 1 | Norix.Agent 1" + rest,
                                  "CreateAppContainerProfile NORIX.AGENT 1 | NORIX.AGENT 1" + rest,
                                  "DeriveAppContainerSidFromAppContainerName NORIX.AGENT 1",
                                  "FreeSid", "FreeSid"}));
}

TEST_F(ProfileSid, Failures) {
    struct Case {
        std::optional<sim::Fault> fault;
        const char* profile;
        const char* message;
    };
    const Case cases[] = {
        {fault_on("CreateAppContainerProfile", 0x80070005U), "p",
         "cannot create AppContainer profile: HRESULT 0x80070005"},
        {fault_on("CreateAppContainerProfile", 0x8007000EU), "p",
         "cannot create AppContainer profile: HRESULT 0x8007000e"},
        // The platform refuses an empty name.
        {std::nullopt, "", "cannot create AppContainer profile: HRESULT 0x80070057"},
        // The derivation's own result is reported, not the creation's.
        {fault_on("DeriveAppContainerSidFromAppContainerName", 0x80070057U), "existing",
         "cannot derive AppContainer SID: HRESULT 0x80070057"},
    };
    for (const auto& c : cases) {
        sim::reset();
        ASSERT_TRUE(obtain_profile_sid(to_wide("existing")).has_value());
        sim::clear_journal();
        if (c.fault) {
            sim::inject(*c.fault);
        }
        const auto sid = obtain_profile_sid(to_wide(c.profile));
        ASSERT_FALSE(sid.has_value()) << c.message;
        EXPECT_EQ(sid.error().message, c.message);
        EXPECT_EQ(sim::unfreed_sids(), 0U) << c.message;
        EXPECT_EQ(sim::journal_of("CreateAppContainerProfile").size(), 1U) << c.message;
    }
}

} // namespace
