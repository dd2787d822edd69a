#include <clocale>
#include <iostream>

#include "cli/Cli.h"
#include "config/StandardStreams.h"
#include "ui/StopSignals.h"
#include "download/HttpClient.h"

int main(int argc, char** argv) {
  meridane::OpenClosedStandardStreams();
  // Dates in the user's format; numbers never depend on the locale.
  std::setlocale(LC_TIME, "");
  meridane::InitHttp();
  meridane::InstallStopSignals();
  return meridane::RunCli(argc, argv, std::cout, std::cerr);
}
