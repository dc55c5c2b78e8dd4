// A hand-built instance whose callbacks are the test host's recording logger and counting
// allocator, for the parts of the FMI layer that no export reaches yet.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "fmu_host.h"
#include "instance.h"
#include "messages.h"

struct HandBuiltInstance {
  HostCallbacks host;
  char name[16] = "inst";
  ModelInstance record{};

  HandBuiltInstance() {
    record.functions = host.functions();
    record.instanceName = name;
    record.loggingOn = 1;
    fmiClearPendingText(&record);
  }
  HandBuiltInstance(const HandBuiltInstance&) = delete;
  HandBuiltInstance& operator=(const HandBuiltInstance&) = delete;
};

class InstanceTest : public ::testing::Test {
 protected:
  void TearDown() override {
    currentInstance = nullptr;
    singleInstance = nullptr;
  }

  HandBuiltInstance unit;
  ModelInstance* instance = &unit.record;
  HostCallbacks& host = unit.host;
};
