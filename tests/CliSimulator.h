#pragma once

#include <string>
#include <vector>

#include "tests/CliTestCommon.h"

namespace vyx::test {

// vyx-display-sim serving on a pseudo-terminal reached through <tmp>/dev; its plain log
// goes to <tmp>/sim.log.
class Simulator {
  public:
    explicit Simulator(std::vector<std::string> options) {
        std::vector<std::string> args = {VYX_SIM_PATH, "--plain", "--link", Link()};
        args.insert(args.end(), options.begin(), options.end());
        Launch launch;
        launch.args = std::move(args);
        launch.outputFile = m_Dir / "sim.log";
        m_Started = m_Child.Start(launch) && WaitForPath(Link(), 5s);
    }
    bool Started() const { return m_Started; }
    std::string Link() const { return m_Dir / "dev"; }
    // Ends the simulator and returns its log.
    std::string Stop() {
        m_Child.Stop(5s);
        return ReadFileBytes(m_Dir / "sim.log");
    }

  private:
    TempDir m_Dir;
    ChildProcess m_Child;
    bool m_Started = false;
};

}  // namespace vyx::test
