// The generated model Quenzel: what the FMI layer and the runtime call on it beyond the entry
// points of runtime/modeldata.h (modelEquations, initializationHook, resetModelFlags,
// getDriverDimensions, modelDataTemplate, modelDataSize).
//
// The block diagram: the input u goes through two limiters and two first-order filters; a time
// ramp drives a threshold that switches between u and a constant; outputSelector picks which
// signal becomes the output y.
#pragma once

#include "modeldata.h"

struct StringArray;

// ---- Variables and their places ------------------------------------------------------------

// Places of the variables in the value arrays of their category.
enum ModelParameterIndex {
  parOutputSelector = 0,
  parFilterK = 1,
  parFilterT = 2,
  parFilterYStart = 3,
  parLimiterUMax = 4,
  parLimiterUMin = 5,
  parLimiter1UMax = 6,
  parLimiter1UMin = 7,
  parLimitedFilterK = 8,
  parLimitedFilterT = 9,
  parLimitedFilterYStart = 10,
  parInputSwitchAlternative = 11,
  parThreshold = 12,
  parTimeSourceOffset = 13,
  parTimeSourceStartTime = 14
};

enum ModelStateIndex { stateFilterY = 0, stateLimitedFilterY = 1 };
enum ModelInputIndex { inputU = 0 };
enum ModelOutputIndex { outputY = 0 };

// Auxiliaries: 0, 1, 2, 4, 5 and 7 are generated constants set at initialisation.
enum ModelAuxiliaryIndex {
  auxLimiterY = 3,
  auxLimiter1Y = 6,
  auxTimeSourceY = 8,  // also greaterThreshold.u
  auxGreaterThresholdY = 9,
  auxInputSwitchY = 10
};

enum ModelCounts {
  modelStates = 2,
  modelInputs = 1,
  modelOutputs = 1,
  modelAuxiliaries = 11,
  modelParameters = 15,
  modelStrings = 0,
  modelCrossingPairs = 5,  // ncross: pairs seen by the crossing step scaling
  modelExternalObjects = 0,
  modelExtraValues = 0,
  modelExtraValues2 = 0
};

// The model's identity, compared by fmi2Instantiate with the GUID it is given.
extern const char modelGUID[];
// The file of the unit that holds the model.
extern const char modelLibraryFileName[];

// ---- Start values --------------------------------------------------------------------------

// Writes the start values into each array that is not null; qiErr is never written.
void declare_(double* states, double* parameters, double* inputs, void* strings, int* qiErr);
void declareVariables(double* states, double* parameters, double* inputs, void* strings, int* qiErr,
                      int unused, void* writer);
void setStartValues(double* states, double* parameters, double* inputs);

// ---- Dimensions ----------------------------------------------------------------------------
// Each writes its counts through the pointers in order; null pointers are skipped.

// nx, 0, nu, ny, nw, np, ns, ncross, nrel, 0, 0, extra values, size of the second extra array.
void getInstanceDimensions(int* nx, int* unused1, int* nu, int* ny, int* nw, int* np, int* ns,
                           int* ncross, int* nrel, int* unused9, int* unused10, int* nExtra,
                           int* nExtra2);
// nx, 0, nu, ny, nw, np, 5, 0, 0.
void getModelDimensions(int* nx, int* unused1, int* nu, int* ny, int* nw, int* np, int* value6,
                        int* unused7, int* unused8);
// 5, 1, then eight zeros.
void getAuxDimensions(int* value0, int* value1, int* unused2, int* unused3, int* unused4,
                      int* unused5, int* unused6, int* unused7, int* unused8, int* unused9);

// ---- Structure of the state Jacobian -------------------------------------------------------
// jacobianColumnGroups[0] is the number of column groups G; then, group after group, the
// group's column count k and its k 1-based state numbers. The row table starts at the fixed
// position jacobianRowTablePosition: G blocks of nx ints, block j giving for each derivative row
// the 1-based column of group j it depends on (0 for none).
enum JacobianTableLayout {
  // Every state lies in at most one of at most nx groups: the groups take at most 2 nx ints.
  jacobianRowTablePosition = 1 + 2 * modelStates,
  jacobianTableSize = jacobianRowTablePosition + modelStates * modelStates
};
extern const int jacobianColumnGroups[jacobianTableSize];

// ---- ModelData accessors -------------------------------------------------------------------
// The single-field accessors and copyModelData treat a null record as modelDataTemplate.

// Fills a new record from the template; clears the calling thread's current record first.
void copyModelData(ModelData* destination);
int getEventPhase(ModelData* record);
void setEventPhase(ModelData* record, int phase);
void setInlineIntegration(ModelData* record, int on);
int getEventHandled(ModelData* record);
void setInDirectionalDerivative(ModelData* record, int on);
void setModelJacobianFull(ModelData* record, double* a, double* b, double* c, double* d, int nx,
                          int nu, int ny, double value1, double value2, double value3, int flag,
                          int* out);
void setModelJacobian(ModelData* record, double* a, double* b, double* c, double* d, int nx, int nu,
                      int ny, double value1, double value2, double value3, int flag);
// The profiling table and (when count is given) its number of records, never more than the
// table holds.
BlockProfile* getBlockProfiles(ModelData* record, int* count);
void copyExtraValuesIn(ModelData* record, const double* extra, const double* extra2);
void copyExtraValuesOut(ModelData* record, double* extra, double* extra2);
// Clears the record's work storage so that a later initialisation starts clean, and releases
// every delay buffer of the process. The template values (lambda ...) are not restored.
void resetModelData(ModelData* record);
void resetTemplateModelData(void);
int getModelDataSize(void);
// startTime of the calling thread's current record (the template when none).
double getCurrentStartTime(void);
// Inline integration off, inline step 0, step fraction 1, time scale 0.
void setExperimentDefaults(double* solverReals, int* solverInts);

// ---- The unit's own files ------------------------------------------------------------------

// The full path of the unit, in a process-wide buffer of 1,000 characters; empty when the code
// does not run from a library named modelLibraryFileName or the path does not fit.
char* modulePath(void);
// Presets the resources folder of the built-in resources function, which then is not computed.
void setResourcesDirectory(const char* folder);

// ---- String variables ----------------------------------------------------------------------
// The model has modelStringSlots slots of modelStringSlotSize characters in ModelData; a slot
// holds at most modelStringSlotSize - 1 characters.

int initStringVariables(ModelData* record);
void setStringVariable(ModelData* record, const char* text, int index);
void setStringArrayVariable(ModelData* record, const StringArray* array, int index);
const char* getStringVariable(ModelData* record, int index);

// ---- Relations as the equations call them --------------------------------------------------

// A relation with band arming and crossing functions (relation k, 1-based).
int modelEventRelationBand(ModelData* record, const char* relationText, const char* expressionText,
                           double* crossings, int k, int bandArming, double time, int logFlags,
                           int direction, int negate);
// A relation without crossing functions of its own; its Boolean is bit 0 of relationState[k].
void modelEventRelation(ModelData* record, const char* relationText, const char* expressionText,
                        int k, int logFlags, int direction, int negate);

// ---- Hooks and optional entry points -------------------------------------------------------

// Empty in this model. Called with phase 0 after the start values, 2 at the end of the initial
// equations (with initial() cleared) and 1 at the end of the pass.
void equationsHook(double* time, double* states, void* argument5, double* inputs,
                   double* parameters, void* argument8, void* argument9, double* derivatives,
                   double* outputs, double* auxiliaries, double* crossings, double* solverReals,
                   int* solverInts, void* strings, ModelData* record, int phase,
                   int inlineCrossing);
// equationsHook on modelDataTemplate, whose initial and allSections are set first.
void equationsHookStatic(double* time, double* states, void* argument5, double* inputs,
                         double* parameters, void* argument8, void* argument9, double* derivatives,
                         double* outputs, double* auxiliaries, double* crossings,
                         double* solverReals, int* solverInts, void* strings, int phase,
                         int initial, int allSections, int inlineCrossing);
// The generated form of the runtime's sample clock.
int modelSample(ModelData* record, double t, double start, double interval, int index, int mode,
                int evaluate);

// Placeholders of the sparse direct solver of the integrator, which this unit does not contain:
// each returns -1 and does nothing else.
typedef int (*SparseJacobianFunction)(double t, void* y, void* fy, void* jacobian, void* userData,
                                      void* tmp1, void* tmp2, void* tmp3);
int CVSlsSetSparseJacFn(void* cvodeMemory, SparseJacobianFunction jacobian);
int CVSlsGetNumJacEvals(void* cvodeMemory, long* count);
int CVSuperLUMT(void* cvodeMemory, int threads, int n, int nonZeros);
