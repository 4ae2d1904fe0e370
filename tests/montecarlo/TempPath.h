// Temporary files of the campaign tests, named per process: the test
// runner may run several of these tests at once.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace vtal::montecarlo::testing {

inline std::string TempPath(const std::string &name) {
    return ::testing::TempDir() + "vtal_mc_" + std::to_string(getpid()) + "_" + name;
}

}  // namespace vtal::montecarlo::testing
