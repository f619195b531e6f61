// Shared fixture of the engine tests: a fresh store and settings for every
// test, a headless frontend that records what the engine shows, and the
// reclaim walk at the end of every test, which must find nothing to free.
#pragma once

#include "core/node_store.h"
#include "frontend/headless_frontend.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace tarvex::test {

// Structures a test keeps alive: each is marked by the reclaim walk.
void keep(std::function<void()> marker);
void keep_text(NodeHandle t);
void forget_all();

// Runs the reclaim walk and checks it found no leak and no fault.
void expect_no_leak();

// Runs script as home's through the Run command (to the first breakpoint
// when to_brk): the run's result.
int run_in_home(const std::string& script, bool to_brk = false);
// Runs the current cell again: the run's result.
int run_again(bool to_brk = false);

// The cell of that name, made when there is none.
NodeHandle cell_named(const char* name);
// What the value of the cell of that name shows.
std::string value_of(const char* name);

class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // The store's size for the test; a fixture run at several sizes
    // overrides it.
    virtual int store_nodes() const { return NODE_COUNT_DEFAULT; }
    // The latest flash, "" when there was none (a check, not a crash).
    std::string last_flash() const { return ui.flashes.empty() ? "" : ui.flashes.back(); }
    HeadlessFrontend ui;
};

// The sizes a fixture that runs at every size is instantiated with: the
// handheld's store and the largest.
inline const auto STORE_SIZES = ::testing::Values(NODE_COUNT_DEFAULT, NODE_COUNT_MAX);
inline std::string store_size_name(const ::testing::TestParamInfo<int>& info) {
    return info.param == NODE_COUNT_DEFAULT ? "DefaultStore" : "LargestStore";
}

} // namespace tarvex::test
