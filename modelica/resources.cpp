#include "resources.h"

const char* resourcesPath = nullptr;
