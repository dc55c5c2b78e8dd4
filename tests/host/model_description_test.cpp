// The model description packed into Quenzel.fmu agrees with the library: its GUID is accepted,
// its counts are the library's, every start value is the one the unit loads, every value
// reference reads the variable its name says, and its structure lists what its variables are.
#include <cmath>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <tinyxml2.h>

#include "fmu_archive.h"
#include "model_description.h"
#include "unit_fixture.h"

namespace {

class ModelDescriptionAgreement : public UnitTest {
 protected:
  void SetUp() override {
    UnitTest::SetUp();
    std::string folder, error;
    ASSERT_TRUE(unpackFmu(QUENZEL_FMU_PATH, &folder, &error)) << error;
    const std::string path = folder + "/modelDescription.xml";
    ASSERT_TRUE(readModelDescription(path.c_str(), &d, &error)) << error;
    std::ifstream file(path);
    xml.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    removeUnpackedFmu(folder);
  }

  // The attributes of the interface element of that name (ModelExchange, CoSimulation); empty
  // when the description has none.
  std::map<std::string, std::string> attributes(const char* element) {
    tinyxml2::XMLDocument document;
    if (document.Parse(xml.c_str(), xml.size()) != tinyxml2::XML_SUCCESS) return {};
    const tinyxml2::XMLElement* root = document.FirstChildElement("fmiModelDescription");
    const tinyxml2::XMLElement* kind = root ? root->FirstChildElement(element) : nullptr;
    std::map<std::string, std::string> result;
    for (const tinyxml2::XMLAttribute* a = kind ? kind->FirstAttribute() : nullptr; a; a = a->Next())
      result[a->Name()] = a->Value();
    return result;
  }

  const ModelVariable& variable(const std::string& name) {
    const ModelVariable* v = findVariable(d, name);
    EXPECT_NE(v, nullptr) << name;
    static const ModelVariable none;
    return v ? *v : none;
  }

  ModelDescription d;
  std::string xml;  // the file's text
};

TEST_F(ModelDescriptionAgreement, IdentityAndKindsAreTheLibrarys) {
  EXPECT_EQ(d.fmiVersion, "2.0");
  EXPECT_EQ(d.modelName, "Quenzel");
  EXPECT_EQ(d.modelExchangeIdentifier, "Quenzel");
  EXPECT_EQ(d.coSimulationIdentifier, "Quenzel");
  for (fmi2Type type : {fmi2ModelExchange, fmi2CoSimulation}) {
    fmi2Component c = unit.fmi2Instantiate("md", type, d.guid.c_str(), "", host.functions(), fmi2False, fmi2False);
    EXPECT_NE(c, nullptr) << kindName(type);
    if (c) unit.fmi2FreeInstance(c);
  }
}

// Both kinds claim FMU states, their serialisation and directional derivatives, and the library
// exports what each claim promises.
TEST_F(ModelDescriptionAgreement, BothKindsClaimStatesSerialisationAndDirectionalDerivatives) {
  struct Claim {
    const char* attribute;
    std::vector<std::pair<const char*, bool>> exported;  // the functions it promises
  };
  const Claim claims[] = {
      {"canGetAndSetFMUstate",
       {{"fmi2GetFMUstate", unit.fmi2GetFMUstate}, {"fmi2SetFMUstate", unit.fmi2SetFMUstate},
        {"fmi2FreeFMUstate", unit.fmi2FreeFMUstate}}},
      {"canSerializeFMUstate",
       {{"fmi2SerializedFMUstateSize", unit.fmi2SerializedFMUstateSize},
        {"fmi2SerializeFMUstate", unit.fmi2SerializeFMUstate},
        {"fmi2DeSerializeFMUstate", unit.fmi2DeSerializeFMUstate}}},
      {"providesDirectionalDerivative", {{"fmi2GetDirectionalDerivative", unit.fmi2GetDirectionalDerivative}}},
  };
  for (const char* element : {"ModelExchange", "CoSimulation"}) {
    const std::map<std::string, std::string> kind = attributes(element);
    ASSERT_EQ(kind.count("modelIdentifier"), 1u) << element;
    for (const Claim& claim : claims) {
      auto value = kind.find(claim.attribute);
      ASSERT_NE(value, kind.end()) << element << " " << claim.attribute;
      EXPECT_EQ(value->second, "true") << element << " " << claim.attribute;
    }
  }
  for (const Claim& claim : claims)
    for (const auto& [function, exported] : claim.exported) EXPECT_TRUE(exported) << claim.attribute << ": " << function;
}

// The library answers the counts of the description without a length warning, and warns for one
// more, so the counts are neither too small nor too large.
TEST_F(ModelDescriptionAgreement, CountsAreTheLibrarys) {
  fmi2Component c = instantiate(fmi2ModelExchange);
  ASSERT_NE(c, nullptr);
  consistentLimits(c);
  ASSERT_EQ(unit.fmi2EnterInitializationMode(c), fmi2OK);
  ASSERT_EQ(unit.fmi2ExitInitializationMode(c), fmi2OK);
  size_t nx = d.derivatives.size(), nz = d.numberOfEventIndicators;
  std::vector<double> values(nz + 2);
  EXPECT_EQ(unit.fmi2GetContinuousStates(c, values.data(), nx), fmi2OK);
  EXPECT_EQ(unit.fmi2GetDerivatives(c, values.data(), nx), fmi2OK);
  EXPECT_EQ(unit.fmi2GetEventIndicators(c, values.data(), nz), fmi2OK);
  EXPECT_TRUE(textsAt(fmi2Warning).empty());
  EXPECT_EQ(unit.fmi2GetContinuousStates(c, values.data(), nx + 1), fmi2Warning);
  EXPECT_EQ(unit.fmi2GetEventIndicators(c, values.data(), nz + 1), fmi2Warning);
  EXPECT_EQ(d.numberOfEventIndicators, 10u);
}

// With the default limits the initialisation fails before it changes anything, and the stored
// values can then be read: each is the start value the description gives.
TEST_F(ModelDescriptionAgreement, StartValuesAreTheOnesTheUnitLoads) {
  fmi2Component c = instantiate(fmi2ModelExchange);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(unit.fmi2EnterInitializationMode(c), fmi2Error);
  EXPECT_TRUE(host.contains("Limiter: Limits must be consistent. However, uMax (=1) < uMin (=10000)"));
  int checked = 0;
  for (const ModelVariable& v : d.variables) {
    if (!v.hasStart) continue;
    ASSERT_EQ(v.type, variableReal) << v.name;
    fmi2Status status;
    double value = get(c, v.valueReference, &status);
    EXPECT_EQ(status, fmi2OK) << v.name;
    EXPECT_EQ(value, std::stod(v.start)) << v.name;
    ++checked;
  }
  EXPECT_EQ(checked, 16);  // the parameters and the input
}

// The limiter1 limits are inconsistent by default as well: with limiter's made consistent, the
// initialisation fails on limiter1's and names its start values.
TEST_F(ModelDescriptionAgreement, SecondLimitersStartValuesAreInconsistentToo) {
  fmi2Component c = instantiate(fmi2ModelExchange);
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(set(c, variable("limiter.uMin").valueReference, -1.0), fmi2OK);
  EXPECT_EQ(unit.fmi2EnterInitializationMode(c), fmi2Error);
  EXPECT_TRUE(host.contains("limiter1.uMax >= limiter1.uMin"));
  EXPECT_EQ(variable("limiter1.uMax").start, "1");
  EXPECT_EQ(variable("limiter1.uMin").start, "10000");
}

// Every computed variable read by its description's reference has the value its name's
// equation gives for distinct parameter values.
TEST_F(ModelDescriptionAgreement, EveryReferenceReadsTheVariableItsNameSays) {
  fmi2Component c = instantiate(fmi2ModelExchange);
  ASSERT_NE(c, nullptr);
  const std::map<std::string, double> settings = {
      {"outputSelector", 2},       {"filter.k", 2},          {"filter.T", 4},
      {"filter.yStart", 0.5},      {"limiter.uMax", 0.75},   {"limiter.uMin", -1},
      {"limiter1.uMax", 5},        {"limiter1.uMin", -5},    {"limitedFilter.k", 3},
      {"limitedFilter.T", 8},      {"limitedFilter.yStart", 0.125}, {"inputSwitch.alternative", 1500},
      {"greaterThreshold.threshold", 0.1}, {"timeSource.offset", 0.25}, {"timeSource.startTime", 0},
      {"u", 1.25}};
  for (const auto& [name, value] : settings) ASSERT_EQ(set(c, variable(name).valueReference, value), fmi2OK) << name;
  ASSERT_EQ(unit.fmi2EnterInitializationMode(c), fmi2OK);
  ASSERT_EQ(unit.fmi2ExitInitializationMode(c), fmi2OK);
  fmi2EventInfo info{};
  ASSERT_EQ(unit.fmi2NewDiscreteStates(c, &info), fmi2OK);
  ASSERT_EQ(unit.fmi2EnterContinuousTimeMode(c), fmi2OK);
  const double t = 0.5;
  ASSERT_EQ(unit.fmi2SetTime(c, t), fmi2OK);

  const double u = 1.25, x0 = 0.5, x1 = 0.125;
  const double ramp = 0.25 + t;  // the ramp started at 0
  const std::map<std::string, double> expected = {
      {"filter.y", x0},
      {"limitedFilter.y", x1},
      {"der(filter.y)", (2 * u - x0) / 4},
      {"der(limitedFilter.y)", (3 * u - x1) / 8},
      {"limiter.y", 0.75},
      {"limiter1.y", u},
      {"timeSource.y", ramp},
      {"greaterThreshold.u", ramp},
      {"greaterThreshold.y", 1},
      {"inputSwitch.y", u},
      {"y", u},
  };
  std::set<std::string> computed;
  for (const ModelVariable& v : d.variables)
    if (!v.hasStart) computed.insert(v.name);
  std::set<std::string> named;
  for (const auto& [name, value] : expected) named.insert(name);
  EXPECT_EQ(computed, named) << "every variable without a start value is checked here";

  for (const auto& [name, value] : expected) {
    const ModelVariable& v = variable(name);
    fmi2Status status;
    double read;
    if (v.type == variableBoolean) {
      fmi2Boolean b = -1;
      status = unit.fmi2GetBoolean(c, &v.valueReference, 1, &b);
      read = b;
    } else {
      read = get(c, v.valueReference, &status);
    }
    EXPECT_EQ(status, fmi2OK) << name;
    EXPECT_DOUBLE_EQ(read, value) << name;
  }
}

// Causality and the structure tell the same story: the outputs are the variables of causality
// output, the derivatives are those with a derivative attribute, and the initial unknowns are
// the outputs, the states and their derivatives, in the order of the list.
TEST_F(ModelDescriptionAgreement, StructureListsWhatTheVariablesAre) {
  std::vector<unsigned> outputs, derivatives, initial;
  std::set<unsigned> states;
  for (unsigned i = 1; i <= d.variables.size(); ++i) {
    const ModelVariable& v = d.variables[i - 1];
    if (v.causality == "output") outputs.push_back(i);
    if (v.derivativeOf) {
      derivatives.push_back(i);
      states.insert(v.derivativeOf);
    }
  }
  for (unsigned i = 1; i <= d.variables.size(); ++i)
    if (d.variables[i - 1].causality == "output" || d.variables[i - 1].derivativeOf || states.count(i))
      initial.push_back(i);
  EXPECT_EQ(d.outputs, outputs);
  EXPECT_EQ(d.derivatives, derivatives);
  EXPECT_EQ(d.initialUnknowns, initial);
  for (unsigned s : states) {
    const ModelVariable& v = d.variables[s - 1];
    // A state gets its value from its yStart parameter at initialisation.
    EXPECT_EQ(v.initial, "calculated") << v.name;
    EXPECT_EQ(v.valueReference >> 24 & 0xF, 2u) << v.name;
  }
  for (const ModelVariable& v : d.variables) {
    unsigned category = v.valueReference >> 24 & 0xF;
    unsigned expected = v.causality == "parameter" ? 1u
                        : v.causality == "input"   ? 5u
                        : v.causality == "output"  ? 4u
                        : v.derivativeOf           ? 3u
                                                   : category;
    EXPECT_EQ(category, expected) << v.name;
  }
}

}  // namespace
