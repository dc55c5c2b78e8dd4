#include "builtins.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "clocale.h"
#include "errors.h"
#include "modeldata.h"
#include "saturate.h"
#include "tempstrings.h"
#include "threadblock.h"

namespace {

struct NamedShape {
  const char* name;
  int code;
};

const NamedShape shapes[] = {
    {"box", 101},    {"sphere", 102},  {"cylinder", 103},  {"cone", 104},
    {"pipe", 105},   {"beam", 106},    {"wirebox", 107},   {"gearwheel", 108},
    {"vector", 109}, {"pipecylinder", 110}, {"spring", 111}, {"tire", 112}, {"tyre", 112},
};

// (int)(v·scale − 0.5), truncated toward zero, within 0..top.
int Component(double v, double scale, int top) {
  const int32_t c = SaturatingInt(v * scale - 0.5);
  return c < 0 ? 0 : c > top ? top : c;
}

}  // namespace

extern "C" {

double ShapeCode(const char* shape) {
  const char* name = StringOrEmpty(shape);
  for (const NamedShape& s : shapes)
    if (strcmp(name, s.name) == 0) return s.code;
  // strtol saturates where atoi would overflow; the int range is what atoi's callers expect.
  long leading = strtol(name, nullptr, 10);
  if (leading > INT_MAX) leading = INT_MAX;
  if (leading < INT_MIN) leading = INT_MIN;
  return 200.0 + static_cast<double>(leading);
}

double MaterialCode(double r, double g, double b, double specular) {
  const int R = Component(r, 100.0, 99);
  const int G = Component(g, 100.0, 99);
  const int B = Component(b, 100.0, 99);
  const int S = Component(specular, 10.0, 9);
  return static_cast<double>(((R * 100 + G) * 100 + B) * 10 + S);
}

double getMemory(const double* memory, int a, int b) {
  if (a == 1 && b == 1) RaiseError("Memory argument to getMemory must be a vector.");
  double value;
  memcpy(&value, memory, sizeof value);
  return value;
}

double putMemory(int enable, double* memory, int a, int b, double value) {
  if (a == 1 && b == 1) RaiseError("Memory argument to putMemory must be a vector.");
  if (enable) memcpy(memory, &value, sizeof value);
  return 0.0;
}

const char* EnumToString(int x, int leftJustified, int minWidth, StringArray names) {
  AssertCondition(minWidth < 40, "minwidth<40", "");
  AssertCondition(names.ndims == 1 && x >= 1 && x <= names.dims[0],
                  "names.ndims==1 && x>=1 && x<=names.dims[0]", "");
  const char* name = StringOrEmpty(names.data[x - 1]);
  // Padded straight into a string of the right length: a name of any length fits.
  return StringPadded(name, strlen(name), leftJustified, minWidth);
}

int EnumFromInteger(int toConvert, int maxEnumValue, const char* message) {
  if (toConvert < 1 || toConvert > maxEnumValue)
    AssertCondition(0, "toConvert >= 1 && toConvert <= maxEnumValue", StringOrEmpty(message));
  return toConvert;
}

double SpliceStep(double x, double dx) {
  if (dx < 0) {
    x = -x;
    dx = -dx;
  }
  if (x <= -dx) return 0.0;
  if (x >= dx) return 1.0;
  const double c = asin(1.0);
  return (1.0 + tanh(tan(c * x / dx))) / 2.0;
}

double SpliceStepDerivative(double x, double dx, double der_x, double der_dx) {
  if (dx < 0) {
    x = -x;
    dx = -dx;
    der_x = -der_x;
    der_dx = -der_dx;
  }
  if (!(x > -dx && x < dx)) return 0.0;
  const double c = asin(1.0);
  const double r = x / dx;
  const double a = r * c;
  const double D = cosh(tan(a)) * cos(a);
  return ((der_x - r * der_dx) * c / (2.0 * dx)) / (D * D);
}

double SpliceBlendDerivative(double y1, double y2, double x, double dx, double der_y1, double der_y2,
                             double der_x, double der_dx) {
  const double s = SpliceStep(x, dx);
  const double p = s > 0 ? der_y1 : 0.0;
  const double q = s < 1 ? der_y2 : 0.0;
  const double e = s > 0 && s < 1 ? SpliceStepDerivative(x, dx, der_x, der_dx) * (y1 - y2) : 0.0;
  return s * p + (1.0 - s) * q + e;
}

int AllSectionsFlag(void) {
  ThreadBlock* block = PeekThreadBlock();
  const ModelData* m = block && block->currentModelData ? block->currentModelData : &modelDataTemplate;
  return m->allSections;
}

}  // extern "C"
