// quenzel-host: simulates an FMI 2.0 FMU in Co-Simulation or Model Exchange and prints the result
// as CSV.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fmi2_api.h"
#include "fmu_archive.h"
#include "model_description.h"
#include "simulate.h"

namespace {

const char usage[] =
    "usage: quenzel-host [options] FMU\n"
    "Simulates the FMU in Co-Simulation, stepping it with fmi2DoStep (the FMU integrates and\n"
    "handles its events), or with --model-exchange in Model Exchange with fixed-step explicit Euler\n"
    "and event handling, and prints a CSV of time, inputs, outputs and continuous states on\n"
    "standard output; the events (Model Exchange) and the FMU's messages go to standard error.\n"
    "  --model-exchange  simulate in Model Exchange instead of Co-Simulation\n"
    "  --set NAME=VALUE  set a parameter or input before initialisation (repeatable)\n"
    "  --start T         start time (default: the FMU's default experiment, else 0)\n"
    "  --stop T          stop time (default: the FMU's default experiment, else 1)\n"
    "  --step H          step or communication step size (default: the FMU's default experiment,\n"
    "                    else 0.001)\n"
    "  --interval DT     print a row every DT (whole steps; default: every step)\n"
    "  --log             show the FMU's information messages as well\n";

const char* statusText(fmi2Status status) {
  switch (status) {
    case fmi2OK: return "ok";
    case fmi2Warning: return "warning";
    case fmi2Discard: return "discard";
    case fmi2Error: return "error";
    case fmi2Fatal: return "fatal";
    default: return "pending";
  }
}

extern "C" void logToStderr(fmi2ComponentEnvironment, fmi2String instanceName, fmi2Status status,
                            fmi2String category, fmi2String message, ...) {
  char text[8192] = "";
  if (message) {
    va_list args;
    va_start(args, message);
    vsnprintf(text, sizeof text, message, args);
    va_end(args);
  }
  fprintf(stderr, "%s [%s%s%s]: %s\n", instanceName ? instanceName : "", statusText(status),
          category && *category ? ", " : "", category ? category : "", text);
}

extern "C" void* allocateZeroed(size_t count, size_t size) { return calloc(count, size); }
extern "C" void release(void* block) { free(block); }

// Twelve significant digits: enough for a reader, and grid times such as 0.7 print as such.
void printNumber(double value) { printf("%.12g", value); }

void printHeader(void*, const std::vector<std::string>& columns) {
  for (size_t i = 0; i < columns.size(); ++i) {
    bool quote = columns[i].find_first_of(",\"") != std::string::npos;
    if (i) putchar(',');
    if (!quote) {
      fputs(columns[i].c_str(), stdout);
      continue;
    }
    putchar('"');
    for (char c : columns[i]) {
      if (c == '"') putchar('"');
      putchar(c);
    }
    putchar('"');
  }
  putchar('\n');
}

void printRow(void*, const std::vector<double>& values) {
  for (size_t i = 0; i < values.size(); ++i) {
    if (i) putchar(',');
    printNumber(values[i]);
  }
  putchar('\n');
}

void printEvent(void*, const SimulationEvent& e) {
  std::vector<std::string> reasons;
  if (e.reasons & eventInitial) reasons.push_back("initialisation");
  if (e.reasons & eventTime) reasons.push_back("time event");
  if (e.reasons & eventState) {
    std::string state = "state event (event indicators";
    for (unsigned i : e.indicators) state.append(1, ' ').append(std::to_string(i));
    reasons.push_back(state.append(1, ')'));
  }
  if (e.reasons & eventStep) reasons.push_back("step event");
  fputs("quenzel-host: ", stderr);
  for (size_t i = 0; i < reasons.size(); ++i) fprintf(stderr, "%s%s", i ? ", " : "", reasons[i].c_str());
  fprintf(stderr, " at t = %.12g, %d event iteration step%s", e.time, e.iterations, e.iterations == 1 ? "" : "s");
  if (e.terminateSimulation) fputs(", the model ends the simulation", stderr);
  if (e.nextEventTimeDefined) fprintf(stderr, ", next time event at t = %.12g", e.nextEventTime);
  fputc('\n', stderr);
}

bool parseNumber(const char* text, double* value) {
  char* end = nullptr;
  errno = 0;
  *value = strtod(text, &end);
  return *text && *end == '\0' && errno != ERANGE;
}

}  // namespace

int main(int argc, char** argv) {
  SimulationOptions options;
  bool hasStart = false, hasStop = false, hasStep = false;
  bool modelExchange = false;
  const char* fmuPath = nullptr;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    bool takesValue = a == "--set" || a == "--start" || a == "--stop" || a == "--step" || a == "--interval";
    if (takesValue && i + 1 >= argc) {
      fprintf(stderr, "quenzel-host: %s needs a value\n%s", a.c_str(), usage);
      return 2;
    }
    if (a == "--help" || a == "-h") {
      fputs(usage, stdout);
      return 0;
    } else if (a == "--log") {
      options.loggingOn = true;
    } else if (a == "--model-exchange") {
      modelExchange = true;
    } else if (a == "--set") {
      std::string setting = argv[++i];
      size_t equals = setting.find('=');
      if (equals == std::string::npos || equals == 0) {
        fprintf(stderr, "quenzel-host: --set %s: expected NAME=VALUE\n", setting.c_str());
        return 2;
      }
      options.settings.push_back(VariableSetting{setting.substr(0, equals), setting.substr(equals + 1)});
    } else if (takesValue) {
      double value;
      if (!parseNumber(argv[++i], &value)) {
        fprintf(stderr, "quenzel-host: %s %s: not a number\n", a.c_str(), argv[i]);
        return 2;
      }
      if (a == "--start") options.startTime = value, hasStart = true;
      if (a == "--stop") options.stopTime = value, hasStop = true;
      if (a == "--step") options.stepSize = value, hasStep = true;
      if (a == "--interval") options.outputInterval = value;
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      fprintf(stderr, "quenzel-host: unknown option %s\n%s", a.c_str(), usage);
      return 2;
    } else if (fmuPath) {
      fprintf(stderr, "quenzel-host: more than one FMU given\n%s", usage);
      return 2;
    } else {
      fmuPath = argv[i];
    }
  }
  if (!fmuPath) {
    fputs(usage, stderr);
    return 2;
  }

  std::string folder, error;
  if (!unpackFmu(fmuPath, &folder, &error)) {
    fprintf(stderr, "quenzel-host: %s\n", error.c_str());
    return 1;
  }
  ModelDescription description;
  Fmi2Library library;
  bool ok = readModelDescription((folder + "/modelDescription.xml").c_str(), &description, &error);
  if (ok) {
    if (!hasStart) options.startTime = description.hasStartTime ? description.startTime : 0.0;
    if (!hasStop) options.stopTime = description.hasStopTime ? description.stopTime : options.startTime + 1.0;
    if (!hasStep) options.stepSize = description.hasStepSize ? description.stepSize : 1e-3;
    options.resourceLocation = "file://" + folder + "/resources";
    const std::string& identifier =
        modelExchange ? description.modelExchangeIdentifier : description.coSimulationIdentifier;
    ok = openFmi2Library(fmuBinaryPath(folder, identifier), &library, &error);
  }
  if (ok) {
    const fmi2CallbackFunctions callbacks = {logToStderr, allocateZeroed, release, nullptr, nullptr};
    SimulationOutput output;
    output.header = printHeader;
    output.row = printRow;
    output.event = printEvent;
    ok = modelExchange ? simulateModelExchange(library.api, description, &callbacks, options, output, &error)
                       : simulateCoSimulation(library.api, description, &callbacks, options, output, &error);
    fflush(stdout);
    closeFmi2Library(&library);
  }
  removeUnpackedFmu(folder);
  if (!ok) {
    fprintf(stderr, "quenzel-host: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
