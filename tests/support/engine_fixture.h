// Starts the engine on a machine of simulated volumes with a fresh working folder.
#pragma once

#include <gtest/gtest.h>

#include "core/engine.h"
#include "platform/sim_machine.h"
#include "support/temp_dir.h"

namespace vexa::test {

class EngineTest : public ::testing::Test {
 protected:
  // Starts the engine on `machine` (add volumes first) with jobs polling every 2 ms.
  void Start() {
    gJobWaitMs = 2;
    Startup(machine, dir.Path());
    started_ = true;
  }
  // Stops the engine (saves diskdata and Setting); Start may be called again.
  void Stop() {
    if (started_) Shutdown();
    started_ = false;
  }
  void TearDown() override { Stop(); }

  platform::sim::SimMachine machine;
  TempDir dir;

 private:
  bool started_ = false;
};

}  // namespace vexa::test
