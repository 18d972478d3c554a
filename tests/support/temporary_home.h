#pragma once
// A test environment that points HOME and the XDG folders into a temporary
// folder for the whole run, so that nothing reaches the real user's files.
// Register it once per test program:
//   ::testing::AddGlobalTestEnvironment(new testsupport::TemporaryHome);
#include "tests/support/payload_fixture.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <memory>

namespace testsupport {

class TemporaryHome : public ::testing::Environment {
public:
    void SetUp() override {
        m_home = std::make_unique<TempDir>("home");
        payload_fixture::UseTemporaryHome(m_home->path());
    }
    void TearDown() override { m_home.reset(); }

private:
    std::unique_ptr<TempDir> m_home;
};

} // namespace testsupport
