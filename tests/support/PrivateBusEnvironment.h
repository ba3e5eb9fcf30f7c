// A private bus for a whole test program: units register their level
// listeners as they are made, and must stay off the user's bus.
#pragma once

#include <gtest/gtest.h>

#include "support/PrivateBus.h"

// Up before any test opens the centre, down after the last.
class PrivateBusEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { bus_ = new PrivateBus; }
  void TearDown() override {
    delete bus_;
    bus_ = nullptr;
  }
  static PrivateBus& Bus() { return *bus_; }

 private:
  static inline PrivateBus* bus_ = nullptr;
};
