// Storage of the model's string variables inside ModelData.
#include <cstring>

#include "matrixop.h"
#include "messages.h"
#include "model.h"

int initStringVariables(ModelData* record) {
  // The table must refer to this record's own slots. A record copied whole from another one
  // (an FMU state taken, restored or deserialised) carries the other record's pointers, which
  // may be stale or hostile, so any entry that is not the record's own slot is re-pointed.
  for (int i = 0; i < modelStringSlots; ++i) {
    if (record->stringTable[i] != record->stringSlots[i]) {
      for (int j = 0; j < modelStringSlots; ++j) record->stringTable[j] = record->stringSlots[j];
      break;
    }
  }
  return 0;
}

void setStringVariable(ModelData* record, const char* text, int index) {
  initStringVariables(record);
  if (index < 0 || index >= modelStringSlots) {
    LogMessage("Internal error in String handling.");
    return;
  }
  if (!text) text = "";
  char* slot = record->stringTable[index];
  const size_t room = modelStringSlotSize - 1;
  size_t length = strnlen(text, room + 1);
  size_t stored = length < room ? length : room;
  memcpy(slot, text, stored);
  slot[stored] = '\0';
  if (length > room) {
    LogMessage("Truncated string variable to");
    LogMessage(slot);
  }
}

void setStringArrayVariable(ModelData* record, const StringArray* array, int index) {
  const long long n = StringNrElements(*array);
  if (index < 0 || index + n > modelStringSlots) {
    LogMessage("Internal error in String array handling.");
    return;
  }
  for (long long i = 0; i < n; ++i)
    setStringVariable(record, array->data[i], static_cast<int>(index + i));
}

const char* getStringVariable(ModelData* record, int index) {
  initStringVariables(record);
  if (index < 0 || index >= modelStringSlots) return "";
  return record->stringTable[index];
}
