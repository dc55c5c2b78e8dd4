// The model's static side: start values, dimensions, identity, the ModelData template and its
// accessors, and the optional entry points.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "delays.h"
#include "guarded_call.h"
#include "model.h"
#include "resources.h"
#include "threadblock.h"

namespace {

TEST(StartValues, DeclareWritesTheTableIntoEachGivenArray) {
  const double expectedParameters[modelParameters] = {1, 1, 1, 1,    1, 10000, 1, 10000,
                                                      1, 1, 1, 1500, 1, 0,     0};
  double states[3] = {7, 7, 7};
  double parameters[modelParameters + 1];
  double inputs[2] = {7, 7};
  for (double& p : parameters) p = 7;
  int qiErr = 42;
  declare_(states, parameters, inputs, nullptr, &qiErr);
  for (int i = 0; i < modelParameters; ++i) EXPECT_EQ(parameters[i], expectedParameters[i]) << i;
  EXPECT_EQ(parameters[modelParameters], 7);  // nothing beyond the table
  EXPECT_EQ(states[0], 0);
  EXPECT_EQ(states[1], 0);
  EXPECT_EQ(states[2], 7);
  EXPECT_EQ(inputs[0], 1);
  EXPECT_EQ(inputs[1], 7);
  EXPECT_EQ(qiErr, 42);

  // A missing input array leaves the others to be written.
  states[0] = parameters[4] = 7;
  declare_(states, parameters, nullptr, nullptr, &qiErr);
  EXPECT_EQ(states[0], 0);
  EXPECT_EQ(parameters[4], 1);
  declare_(nullptr, nullptr, nullptr, nullptr, nullptr);
}

TEST(Dimensions, EachFunctionWritesItsCountsInOrder) {
  int out[13];
  auto reset = [&] {
    for (int& o : out) o = -7;
  };
  reset();
  getInstanceDimensions(&out[0], &out[1], &out[2], &out[3], &out[4], &out[5], &out[6], &out[7],
                        &out[8], &out[9], &out[10], &out[11], &out[12]);
  EXPECT_EQ(std::vector<int>(out, out + 13),
            (std::vector<int>{2, 0, 1, 1, 11, 15, 0, 5, 5, 0, 0, 0, 0}));
  reset();
  getDriverDimensions(&out[0], &out[1], &out[2], &out[3], &out[4], &out[5], &out[6], &out[7],
                      &out[8], &out[9], &out[10]);
  EXPECT_EQ(std::vector<int>(out, out + 11), (std::vector<int>{2, 0, 1, 1, 11, 15, 0, 5, 5, 0, 0}));
  reset();
  getModelDimensions(&out[0], &out[1], &out[2], &out[3], &out[4], &out[5], &out[6], &out[7],
                     &out[8]);
  EXPECT_EQ(std::vector<int>(out, out + 9), (std::vector<int>{2, 0, 1, 1, 11, 15, 5, 0, 0}));
  reset();
  getAuxDimensions(&out[0], &out[1], &out[2], &out[3], &out[4], &out[5], &out[6], &out[7], &out[8],
                   &out[9]);
  EXPECT_EQ(std::vector<int>(out, out + 10), (std::vector<int>{5, 1, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(Identity, GuidJacobianStructureAndSizes) {
  EXPECT_STREQ(modelGUID, "{ec302a77-e3a5-4a9c-b251-44e9b2ecede6}");
  EXPECT_EQ(jacobianColumnGroups[0], 1);  // one group
  EXPECT_EQ(jacobianColumnGroups[1], 2);  // of two columns
  EXPECT_EQ(jacobianColumnGroups[2], 1);
  EXPECT_EQ(jacobianColumnGroups[3], 2);
  // Row 1 depends on column 1, row 2 on column 2.
  EXPECT_EQ(jacobianColumnGroups[jacobianRowTablePosition], 1);
  EXPECT_EQ(jacobianColumnGroups[jacobianRowTablePosition + 1], 2);
  EXPECT_EQ(modelDataSize, 881920);
  EXPECT_EQ(getModelDataSize(), 881920);
}

TEST(Identity, ModulePathIsEmptyOutsideTheUnit) {
  // This test program links the model statically: the code does not run from Quenzel.so.
  EXPECT_STREQ(modulePath(), "");
}

TEST(Identity, ResourcesFolderIsPresetForTheBuiltIns) {
  const char* before = resourcesPath;
  static const char folder[] = "/opt/unit/resources/";
  setResourcesDirectory(folder);
  EXPECT_EQ(resourcesPath, folder);
  setResourcesDirectory(before);
}

TEST(Identity, StaticHookSetsTheTemplatesFlags) {
  const int initial = modelDataTemplate.initial;
  const int allSections = modelDataTemplate.allSections;
  equationsHookStatic(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                      nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 1, 1, 1, 0);
  EXPECT_EQ(modelDataTemplate.initial, 1);
  EXPECT_EQ(modelDataTemplate.allSections, 1);
  modelDataTemplate.initial = initial;
  modelDataTemplate.allSections = allSections;
}

TEST(Identity, SparseSolverPlaceholdersFail) {
  long count = 5;
  EXPECT_EQ(CVSuperLUMT(nullptr, 2, 2, 2), -1);
  EXPECT_EQ(CVSlsSetSparseJacFn(nullptr, nullptr), -1);
  EXPECT_EQ(CVSlsGetNumJacEvals(nullptr, &count), -1);
  EXPECT_EQ(count, 5);
}

// ---- The template and the accessors ----------------------------------------------------------

std::unique_ptr<ModelData> poisonedRecord() {
  std::unique_ptr<ModelData> record(new ModelData);
  memset(record.get(), 0xAB, sizeof(ModelData));
  return record;
}

TEST(Template, HoldsTheStartOfHomotopyAndStepScaling) {
  EXPECT_EQ(modelDataTemplate.lambda, 1.0);
  EXPECT_EQ(modelDataTemplate.lambdaStep, 0.1);
  EXPECT_EQ(modelDataTemplate.scaleLastTime, 1e30);
  EXPECT_EQ(modelDataTemplate.stringTable[0], nullptr);
}

TEST(Template, CopyGivesTheTemplateByteForByteAndForgetsTheThreadsRecord) {
  EnsureRuntimeAttached();
  std::unique_ptr<ModelData> record = poisonedRecord();
  ThreadBlock* block = GetThreadBlock();
  ASSERT_NE(block, nullptr);
  block->currentModelData = record.get();
  block->functionStackTag = 3;
  copyModelData(record.get());
  EXPECT_EQ(memcmp(record.get(), &modelDataTemplate, sizeof(ModelData)), 0);
  EXPECT_EQ(block->currentModelData, nullptr);
  EXPECT_EQ(block->functionStackTag, 0);
  copyModelData(nullptr);  // nothing
}

TEST(Template, SingleFieldAccessorsUseTheTemplateForANullRecord) {
  std::unique_ptr<ModelData> record = poisonedRecord();
  copyModelData(record.get());
  ModelData saved = modelDataTemplate;

  setEventPhase(nullptr, eventPhasePlainPass);
  EXPECT_EQ(modelDataTemplate.eventPhase, eventPhasePlainPass);
  EXPECT_EQ(getEventPhase(nullptr), eventPhasePlainPass);
  setInlineIntegration(nullptr, 1);
  EXPECT_EQ(modelDataTemplate.inlineIntegration, 1);
  setInDirectionalDerivative(nullptr, 1);
  EXPECT_EQ(modelDataTemplate.inDirectionalDerivative, 1);
  modelDataTemplate.eventInCall = 1;
  EXPECT_EQ(getEventHandled(nullptr), 1);

  setEventPhase(record.get(), eventPhaseContinueExternal);
  setInlineIntegration(record.get(), 1);
  EXPECT_EQ(getEventPhase(record.get()), eventPhaseContinueExternal);
  EXPECT_EQ(record->inlineIntegration, 1);
  EXPECT_EQ(getEventHandled(record.get()), 0);
  modelDataTemplate = saved;
}

TEST(Template, JacobianHandOverRecordsWhetherAnOutputWasGiven) {
  std::unique_ptr<ModelData> record = poisonedRecord();
  copyModelData(record.get());
  double a[1], b[1], c[1], d[1];
  int out = 9;
  setModelJacobianFull(record.get(), a, b, c, d, 2, 1, 1, 0.5, 1.5, 2.5, 7, &out);
  EXPECT_EQ(out, 0);
  EXPECT_EQ(record->jacobianOutGiven, 1);
  EXPECT_EQ(record->jacobianA, a);
  EXPECT_EQ(record->jacobianD, d);
  EXPECT_EQ(record->jacobianNx, 2);
  EXPECT_EQ(record->jacobianValue3, 2.5);
  EXPECT_EQ(record->jacobianFlag, 7);
  setModelJacobian(record.get(), nullptr, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(record->jacobianOutGiven, 0);
  EXPECT_EQ(record->jacobianA, nullptr);
}

TEST(Template, ProfilingCountNeverExceedsTheTable) {
  std::unique_ptr<ModelData> record = poisonedRecord();
  copyModelData(record.get());
  struct Case {
    int stored, reported;
  } cases[] = {{0, 0},
               {3, 3},
               {modelProfileCapacity, modelProfileCapacity},
               {modelProfileCapacity + 1, modelProfileCapacity},
               {-4, 0}};
  for (const Case& c : cases) {
    record->blockProfileCount = c.stored;
    int count = -1;
    EXPECT_EQ(getBlockProfiles(record.get(), &count), record->blockProfiles);
    EXPECT_EQ(count, c.reported) << c.stored;
  }
  EXPECT_EQ(getBlockProfiles(nullptr, nullptr), modelDataTemplate.blockProfiles);
}

TEST(Template, ResetClearsTheWorkStorageButNotTheTemplateValues) {
  std::unique_ptr<ModelData> record = poisonedRecord();
  copyModelData(record.get());
  ModelData& m = *record;
  m.workArea[0] = m.workArea[modelWorkAreaSize - 1] = 3;
  for (int k = 0; k <= modelCrossings; ++k)
    m.previousCrossings[k] = m.crossingHistory1[k] = m.crossingCurrent[k] = m.crossingHistory2[k] =
        m.crossingHistory3[k] = 2;
  for (int k = 0; k <= modelRelations; ++k) {
    m.relationNominal[k] = m.relationOffset[k] = m.relationSignedEps[k] = m.relationValue[k] = 2;
    m.relationEvaluated[k] = m.relationState[k] = 3;
  }
  m.timeEventStates[0] = 1;
  m.blockProfiles[5].calls = 4;
  m.lambda = 0.4;
  m.lambdaStep = 0.01;
  m.scaleLastTime = 2;
  m.iterationCounter = 6;
  const int delay = static_cast<int>(DelayCreate(1, 10, 0, 0));
  ASSERT_NE(DelayFind(delay), nullptr);

  resetModelData(record.get());

  EXPECT_EQ(m.workArea[0], 0);
  EXPECT_EQ(m.workArea[modelWorkAreaSize - 1], 0);
  for (int k = 0; k <= modelCrossings; ++k) {
    EXPECT_EQ(m.previousCrossings[k], 0);
    EXPECT_EQ(m.crossingHistory3[k], 0);
  }
  for (int k = 0; k <= modelRelations; ++k) {
    EXPECT_EQ(m.relationState[k], 0);
    EXPECT_EQ(m.relationEvaluated[k], 0);
    EXPECT_EQ(m.relationOffset[k], 0);
  }
  EXPECT_EQ(m.timeEventStates[0], 0);
  EXPECT_EQ(m.blockProfiles[5].calls, 0);
  // Not restored: the homotopy state and the counters of the event iteration.
  EXPECT_EQ(m.lambda, 0.4);
  EXPECT_EQ(m.lambdaStep, 0.01);
  EXPECT_EQ(m.scaleLastTime, 2);
  EXPECT_EQ(m.iterationCounter, 6);
  // Every delay buffer of the process is released.
  EXPECT_EQ(DelayFind(delay), nullptr);
}

TEST(Template, ExperimentDefaults) {
  double reals[solverRealCount] = {5, 5, 5, 5};
  int ints[solverIntCount];
  for (int& i : ints) i = 5;
  setExperimentDefaults(reals, ints);
  EXPECT_EQ(reals[solverRealInlineStepSize], 0);
  EXPECT_EQ(reals[solverRealStepFraction], 1.0);
  EXPECT_EQ(reals[solverRealNextTimeEvent], 5);  // untouched
  EXPECT_EQ(reals[solverRealTimeScale], 0);
  EXPECT_EQ(ints[solverIntInlineIntegration], 0);
  EXPECT_EQ(ints[solverIntLogFlags], 5);
}

TEST(Template, CurrentStartTimeFollowsTheThreadsRecord) {
  EnsureRuntimeAttached();
  std::unique_ptr<ModelData> record = poisonedRecord();
  copyModelData(record.get());
  record->startTime = 2.5;
  ThreadBlock* block = GetThreadBlock();
  ASSERT_NE(block, nullptr);
  block->currentModelData = record.get();
  EXPECT_EQ(getCurrentStartTime(), 2.5);
  block->currentModelData = nullptr;
  EXPECT_EQ(getCurrentStartTime(), modelDataTemplate.startTime);
}

}  // namespace
