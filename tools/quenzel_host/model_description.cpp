#include "model_description.h"

#include <tinyxml2.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

using tinyxml2::XMLElement;

std::string attributeText(const XMLElement* element, const char* name, const char* fallback) {
  const char* value = element->Attribute(name);
  return value ? value : fallback;
}

// Whole-text unsigned number; the XML types used for indices and references are 32-bit.
bool parseUnsigned(const char* text, unsigned* value) {
  if (!text || !*text || *text == '-' || *text == '+') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long parsed = strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || parsed > 0xFFFFFFFFull) return false;
  *value = static_cast<unsigned>(parsed);
  return true;
}

bool parseDouble(const char* text, double* value) {
  if (!text || !*text) return false;
  char* end = nullptr;
  *value = strtod(text, &end);
  return *end == '\0';
}

// Reads an optional double attribute of the default experiment.
bool readExperimentValue(const XMLElement* element, const char* name, bool* has, double* value,
                         std::string* error) {
  const char* text = element->Attribute(name);
  *has = text != nullptr;
  if (text && !parseDouble(text, value)) {
    *error = std::string("DefaultExperiment: ") + name + " is not a number: " + text;
    return false;
  }
  return true;
}

bool readVariable(const XMLElement* element, size_t position, ModelVariable* variable, std::string* error) {
  std::string where = "ScalarVariable " + std::to_string(position);
  const char* name = element->Attribute("name");
  if (!name) {
    *error = where + " has no name";
    return false;
  }
  variable->name = name;
  where += " (" + variable->name + ")";
  if (!parseUnsigned(element->Attribute("valueReference"), &variable->valueReference)) {
    *error = where + " has no valid valueReference";
    return false;
  }
  variable->causality = attributeText(element, "causality", "local");
  variable->variability = attributeText(element, "variability", "continuous");
  variable->initial = attributeText(element, "initial", "");

  static const struct {
    const char* element;
    VariableType type;
  } types[] = {{"Real", variableReal},
               {"Integer", variableInteger},
               {"Boolean", variableBoolean},
               {"String", variableString},
               {"Enumeration", variableEnumeration}};
  const XMLElement* typed = nullptr;
  for (const auto& t : types) {
    if (const XMLElement* e = element->FirstChildElement(t.element)) {
      if (typed) {
        *error = where + " has more than one type";
        return false;
      }
      typed = e;
      variable->type = t.type;
    }
  }
  if (!typed) {
    *error = where + " has no type element";
    return false;
  }
  const char* start = typed->Attribute("start");
  variable->hasStart = start != nullptr;
  variable->start = start ? start : "";
  if (const char* derivative = typed->Attribute("derivative")) {
    if (variable->type != variableReal || !parseUnsigned(derivative, &variable->derivativeOf) ||
        variable->derivativeOf == 0) {
      *error = where + " has an invalid derivative attribute";
      return false;
    }
  }
  return true;
}

// The index attributes of the Unknown elements under `parent`, each checked against the list.
bool readUnknowns(const XMLElement* parent, const char* listName, size_t variableCount,
                  std::vector<unsigned>* indices, std::string* error) {
  if (!parent) return true;
  for (const XMLElement* u = parent->FirstChildElement("Unknown"); u; u = u->NextSiblingElement("Unknown")) {
    unsigned index = 0;
    if (!parseUnsigned(u->Attribute("index"), &index) || index == 0 || index > variableCount) {
      *error = std::string("ModelStructure/") + listName + ": invalid variable index " +
               attributeText(u, "index", "(none)");
      return false;
    }
    indices->push_back(index);
  }
  return true;
}

}  // namespace

bool readModelDescription(const char* path, ModelDescription* description, std::string* error) {
  *description = ModelDescription{};
  tinyxml2::XMLDocument document;
  if (document.LoadFile(path) != tinyxml2::XML_SUCCESS) {
    *error = std::string(path) + ": " + (document.ErrorStr() ? document.ErrorStr() : "cannot be read");
    return false;
  }
  const XMLElement* root = document.RootElement();
  if (!root || strcmp(root->Name(), "fmiModelDescription") != 0) {
    *error = std::string(path) + ": not an FMI model description";
    return false;
  }
  ModelDescription& d = *description;
  d.fmiVersion = attributeText(root, "fmiVersion", "");
  d.modelName = attributeText(root, "modelName", "");
  d.guid = attributeText(root, "guid", "");
  if (d.fmiVersion != "2.0") {
    *error = "fmiVersion is \"" + d.fmiVersion + "\", not \"2.0\"";
    return false;
  }
  if (const char* n = root->Attribute("numberOfEventIndicators")) {
    if (!parseUnsigned(n, &d.numberOfEventIndicators)) {
      *error = std::string("numberOfEventIndicators is not a count: ") + n;
      return false;
    }
  }
  if (const XMLElement* me = root->FirstChildElement("ModelExchange")) {
    d.modelExchange = true;
    d.modelExchangeIdentifier = attributeText(me, "modelIdentifier", "");
  }
  if (const XMLElement* cs = root->FirstChildElement("CoSimulation")) {
    d.coSimulation = true;
    d.coSimulationIdentifier = attributeText(cs, "modelIdentifier", "");
  }
  if (const XMLElement* e = root->FirstChildElement("DefaultExperiment")) {
    if (!readExperimentValue(e, "startTime", &d.hasStartTime, &d.startTime, error) ||
        !readExperimentValue(e, "stopTime", &d.hasStopTime, &d.stopTime, error) ||
        !readExperimentValue(e, "tolerance", &d.hasTolerance, &d.tolerance, error) ||
        !readExperimentValue(e, "stepSize", &d.hasStepSize, &d.stepSize, error))
      return false;
  }

  const XMLElement* variables = root->FirstChildElement("ModelVariables");
  if (!variables) {
    *error = "no ModelVariables";
    return false;
  }
  for (const XMLElement* v = variables->FirstChildElement("ScalarVariable"); v;
       v = v->NextSiblingElement("ScalarVariable")) {
    ModelVariable variable;
    if (!readVariable(v, d.variables.size() + 1, &variable, error)) return false;
    d.variables.push_back(variable);
  }
  for (const ModelVariable& v : d.variables) {
    if (v.derivativeOf > d.variables.size()) {
      *error = v.name + ": derivative refers to variable " + std::to_string(v.derivativeOf) + ", which does not exist";
      return false;
    }
  }

  const XMLElement* structure = root->FirstChildElement("ModelStructure");
  if (!structure) {
    *error = "no ModelStructure";
    return false;
  }
  size_t n = d.variables.size();
  if (!readUnknowns(structure->FirstChildElement("Outputs"), "Outputs", n, &d.outputs, error) ||
      !readUnknowns(structure->FirstChildElement("Derivatives"), "Derivatives", n, &d.derivatives, error) ||
      !readUnknowns(structure->FirstChildElement("InitialUnknowns"), "InitialUnknowns", n, &d.initialUnknowns,
                    error))
    return false;
  for (unsigned index : d.derivatives) {
    if (d.variables[index - 1].derivativeOf == 0) {
      *error = "ModelStructure/Derivatives: " + d.variables[index - 1].name + " is not a derivative";
      return false;
    }
  }
  return true;
}

const ModelVariable* findVariable(const ModelDescription& description, const std::string& name) {
  for (const ModelVariable& v : description.variables)
    if (v.name == name) return &v;
  return nullptr;
}

std::vector<size_t> stateVariables(const ModelDescription& description) {
  std::vector<size_t> states;
  for (unsigned index : description.derivatives)
    states.push_back(description.variables[index - 1].derivativeOf - 1);
  return states;
}
