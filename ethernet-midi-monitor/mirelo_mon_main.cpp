#include <iostream>
#include <string>
#include <vector>

#include "ethernet-midi-monitor/cternok_mir_mon_app.h"
#include "platform/ui/application.h"

int main(int argc, char** argv) {
  const std::string problem = platform::ui::Application::displayProblem();
  if (!problem.empty()) {
    std::cerr << "MireloMon: " << problem << "\n";
    return 1;
  }
  platform::ui::Application application(argc, argv);
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  CternokMirMonApp app;
  return app.Run(arguments);
}
