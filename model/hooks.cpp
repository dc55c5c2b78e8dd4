// The model's hooks and the optional entry points a model with more features would use.
#include "model.h"

void initializationHook(double* /*time*/, double* /*states*/, void* /*argument5*/,
                        double* /*inputs*/, double* /*parameters*/, void* /*argument8*/,
                        void* /*argument9*/, double* /*derivatives*/, double* /*outputs*/,
                        double* /*auxiliaries*/, double* /*crossings*/, double* /*solverReals*/,
                        int* /*solverInts*/, void* /*strings*/, ModelData* /*record*/,
                        int /*initial*/) {}

void equationsHook(double* /*time*/, double* /*states*/, void* /*argument5*/, double* /*inputs*/,
                   double* /*parameters*/, void* /*argument8*/, void* /*argument9*/,
                   double* /*derivatives*/, double* /*outputs*/, double* /*auxiliaries*/,
                   double* /*crossings*/, double* /*solverReals*/, int* /*solverInts*/,
                   void* /*strings*/, ModelData* /*record*/, int /*phase*/,
                   int /*inlineCrossing*/) {}

void equationsHookStatic(double* time, double* states, void* argument5, double* inputs,
                         double* parameters, void* argument8, void* argument9, double* derivatives,
                         double* outputs, double* auxiliaries, double* crossings,
                         double* solverReals, int* solverInts, void* strings, int phase,
                         int initial, int allSections, int inlineCrossing) {
  modelDataTemplate.initial = initial;
  modelDataTemplate.allSections = allSections;
  equationsHook(time, states, argument5, inputs, parameters, argument8, argument9, derivatives,
                outputs, auxiliaries, crossings, solverReals, solverInts, strings,
                &modelDataTemplate, phase, inlineCrossing);
}

// The model has no samples, so there are no sampleActive flags to clear.
void resetModelFlags(ModelData* /*record*/) {}

int CVSlsSetSparseJacFn(void* /*cvodeMemory*/, SparseJacobianFunction /*jacobian*/) { return -1; }

int CVSlsGetNumJacEvals(void* /*cvodeMemory*/, long* /*count*/) { return -1; }

int CVSuperLUMT(void* /*cvodeMemory*/, int /*threads*/, int /*n*/, int /*nonZeros*/) { return -1; }
