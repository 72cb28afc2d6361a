#pragma once

#include "platform/simulated/control.hpp"

#include <gtest/gtest.h>

// Every behaviour test starts on a fresh simulated machine.
class SimulatedWindows : public ::testing::Test {
protected:
    void SetUp() override { sim::reset(); }
};
