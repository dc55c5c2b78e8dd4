// What a host needs from an FMU's modelDescription.xml: identity, the interface kinds, the
// default experiment, the variables and the model structure.
#pragma once

#include <string>
#include <vector>

#include "fmi2.h"

enum VariableType { variableReal, variableInteger, variableBoolean, variableString, variableEnumeration };

struct ModelVariable {
  std::string name;
  fmi2ValueReference valueReference = 0;
  VariableType type = variableReal;
  std::string causality;    // as written, "local" when absent
  std::string variability;  // as written, "continuous" when absent
  std::string initial;      // as written, empty when absent
  bool hasStart = false;
  std::string start;        // the start attribute's text
  unsigned derivativeOf = 0;  // 1-based index of the variable this is the derivative of, 0 none
};

struct ModelDescription {
  std::string fmiVersion;
  std::string modelName;
  std::string guid;
  unsigned numberOfEventIndicators = 0;
  bool modelExchange = false;
  std::string modelExchangeIdentifier;
  bool coSimulation = false;
  std::string coSimulationIdentifier;

  bool hasStartTime = false, hasStopTime = false, hasTolerance = false, hasStepSize = false;
  double startTime = 0, stopTime = 0, tolerance = 0, stepSize = 0;

  std::vector<ModelVariable> variables;  // in file order; the structure's indices count from 1
  std::vector<unsigned> outputs;
  std::vector<unsigned> derivatives;     // in the order of the state vector
  std::vector<unsigned> initialUnknowns;
};

// Reads and checks the file. false with a reason in *error when it cannot be read, is not an FMI
// 2.0 model description, or refers to variables that do not exist.
bool readModelDescription(const char* path, ModelDescription* description, std::string* error);

// The variable of that name, null when there is none.
const ModelVariable* findVariable(const ModelDescription& description, const std::string& name);

// The 0-based places in `variables` of the continuous states, in the order of the state vector.
std::vector<size_t> stateVariables(const ModelDescription& description);
