// Simulation of an FMU: in Co-Simulation, stepping it with fmi2DoStep on a grid; in Model
// Exchange, fixed-step explicit Euler with event handling.
#pragma once

#include <string>
#include <vector>

#include "fmi2.h"
#include "fmi2_api.h"
#include "model_description.h"

// A value to set before initialisation: a parameter or an input, by name, as text.
struct VariableSetting {
  std::string name;
  std::string value;
};

struct SimulationOptions {
  double startTime = 0;
  double stopTime = 1;
  double stepSize = 1e-3;
  double outputInterval = 0;  // rows every this long (rounded to whole steps); 0: every step
  bool loggingOn = false;  // fmi2OK messages of the FMU as well
  std::string instanceName = "quenzel-host";
  std::string resourceLocation;  // file URI of the FMU's resources folder, may be empty
  std::vector<VariableSetting> settings;
};

// Why an event iteration ran; an event can have several reasons at once.
enum SimulationEventReason {
  eventInitial = 1,  // the iteration that ends initialisation
  eventTime = 2,     // the step ended at the time the FMU asked for with nextEventTime
  eventState = 4,    // event indicators changed sign during the step
  eventStep = 8,     // fmi2CompletedIntegratorStep asked for event mode
};

struct SimulationEvent {
  double time = 0;
  int reasons = 0;
  std::vector<unsigned> indicators;  // 0-based event indicators that changed sign
  int iterations = 0;                // fmi2NewDiscreteStates calls
  bool nextEventTimeDefined = false; // what the iteration reported last
  double nextEventTime = 0;
  bool terminateSimulation = false;
};

// Receives the results while the simulation runs. A row holds time, then the values of the
// columns named in header. There is one row at the start, at every output time and at the stop
// time, and at an event one row before the event iteration (the left limits) and one after it.
struct SimulationOutput {
  void* context = nullptr;
  void (*header)(void* context, const std::vector<std::string>& columns) = nullptr;
  void (*row)(void* context, const std::vector<double>& values) = nullptr;
  void (*event)(void* context, const SimulationEvent& event) = nullptr;
};

// Instantiates the model through api with the host's callbacks, applies the settings, runs the
// initialisation and its event iteration, and steps from startTime to stopTime on the grid
// startTime + k * stepSize. Each step ends early at a time event and at the located crossing of
// an event indicator. The columns are time, the inputs, the outputs and the continuous states;
// String variables are left out. The instance is terminated and freed at the end, and freed on
// failure. false with the reason in *error when a call fails or the options are unusable.
bool simulateModelExchange(const Fmi2Api& api, const ModelDescription& description,
                           const fmi2CallbackFunctions* callbacks, const SimulationOptions& options,
                           const SimulationOutput& output, std::string* error);

// Instantiates the model for Co-Simulation through api with the host's callbacks, sets up the
// experiment with the model description's tolerance, applies the settings, runs the
// initialisation and calls fmi2DoStep on the grid startTime + k * stepSize up to stopTime; the
// FMU handles its events inside the steps. Rows as for Model Exchange at the start, at every output
// time and at the stop time, without event rows; output.event is not called. A step the FMU
// discards because the model ends the simulation ends the run after a last row. The instance is
// terminated and freed at the end, and freed on failure. false with the reason in *error when a
// call fails or the options are unusable.
bool simulateCoSimulation(const Fmi2Api& api, const ModelDescription& description,
                          const fmi2CallbackFunctions* callbacks, const SimulationOptions& options,
                          const SimulationOutput& output, std::string* error);
