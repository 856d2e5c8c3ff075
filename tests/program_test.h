// The fixture of the end-to-end tests: the built programs run in a fresh folder of the test's
// own. The programs' paths come from the build (PULSECUT_BINARY, K58_BINARY).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "process.h"
#include "wav_fixture.h"

namespace pulsecut::testing {

// A test that runs the built programs in a fresh folder of its own.
class ProgramTest : public ::testing::Test {
 protected:
  Outcome Pulsecut(const std::vector<std::string>& args, const std::string& setup = "") {
    return RunProgram(PULSECUT_BINARY, args, dir_.Path(""), "", setup);
  }
  Outcome K58(const std::vector<std::string>& args) {
    return RunProgram(K58_BINARY, args, dir_.Path(""));
  }
  std::string Path(const std::string& name) const { return dir_.Path(name); }
  void Write(const std::string& name, const std::string& bytes) { WriteFile(Path(name), bytes); }
  std::string Read(const std::string& name) const { return ReadFile(Path(name)); }

  TempDir dir_;
};

}  // namespace pulsecut::testing
