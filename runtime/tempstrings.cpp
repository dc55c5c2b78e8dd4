// The thread's string area, its marks and the permanent area.
#include "tempstrings.h"

#include <cstdint>
#include <cstring>

#include "clocale.h"
#include "errors.h"
#include "threadblock.h"

namespace {

const char roomCondition[] = "stringmark+len+1<Endsimplestring";
const char roomMessage[] = "Room to allocate string";

// The process-wide permanent area; it is never reset.
char permanentArea[permanentStringAreaSize];

}  // namespace

char* startstringmarkNon = permanentArea;
char* const EndsimplestringNon = permanentArea + permanentStringAreaSize;

namespace {

// The calling thread's block with its buffers created, or null when either cannot be had.
ThreadBlock* AreaBlock(void) {
  ThreadBlock* block = GetThreadBlock();
  if (block && !block->EndRealbuffer) InitThreadBuffers();
  return block && block->EndRealbuffer ? block : nullptr;
}

// Whether p lies in [begin, end). Compared as addresses, since p may point anywhere.
bool Within(const char* p, const char* begin, const char* end) {
  uintptr_t at = reinterpret_cast<uintptr_t>(p);
  return at >= reinterpret_cast<uintptr_t>(begin) && at < reinterpret_cast<uintptr_t>(end);
}

// Room for length characters and a terminator strictly before end. Written so that no length,
// however large, wraps around.
bool Fits(size_t length, const char* from, const char* end) {
  size_t room = static_cast<size_t>(end - from);
  return length < room && room - length > 1;
}

}  // namespace

int StringFits(size_t length) {
  ThreadBlock* block = AreaBlock();
  return block && Fits(length, block->stringmark, block->Endsimplestring);
}

char* StringAllocateSize(size_t length) {
  ThreadBlock* block = AreaBlock();
  AssertCondition(block && Fits(length, block->stringmark, block->Endsimplestring), roomCondition,
                  roomMessage);
  char* result = block->stringmark;
  block->stringmark += length + 1;
  return result;
}

char* StringAllocate(int length) {
  // A negative length would move the mark back over live strings.
  AssertCondition(length >= 0, roomCondition, roomMessage);
  return StringAllocateSize(static_cast<size_t>(length));
}

char* StringConcat(const char* a, const char* b) {
  a = StringOrEmpty(a);
  b = StringOrEmpty(b);
  size_t lengthA = strlen(a);
  size_t lengthB = strlen(b);
  // Guard the sum: two lengths that wrap would make a tiny request.
  char* result = StringAllocateSize(lengthB <= SIZE_MAX - lengthA ? lengthA + lengthB : SIZE_MAX);
  memmove(result, a, lengthA);
  memmove(result + lengthA, b, lengthB + 1);
  return result;
}

char* StringMarkGet(void) {
  ThreadBlock* block = AreaBlock();
  return block ? block->stringmark : nullptr;
}

void StringMarkSet(char* mark) {
  ThreadBlock* block = AreaBlock();
  if (block && mark && Within(mark, block->stringBase, block->Endsimplestring))
    block->stringmark = mark;
}

const char* StringMarkKeep(const char* result, char* place) {
  ThreadBlock* block = AreaBlock();
  if (!block || !place || !Within(place, block->stringBase, block->Endsimplestring)) return result;
  char* mark = block->stringmark;
  if (!Within(result, place, mark)) {
    block->stringmark = place;
    return result;
  }
  // The area's last character is never handed out, so a string of the area ends before it; the
  // bound only matters for a result its caller overwrote.
  size_t available = static_cast<size_t>(block->Endsimplestring - result);
  size_t n = strnlen(result, available) + 1;
  if (n > static_cast<size_t>(mark - result)) return result;
  memmove(place, result, n);
  block->stringmark = place + n;
  return place;
}

char* StringToPermanent(char* s) {
  ThreadBlock* block = AreaBlock();
  if (!block || !Within(s, block->stringBase, block->Endsimplestring)) return s;
  size_t n = strnlen(s, static_cast<size_t>(block->Endsimplestring - s));
  AssertCondition(Fits(n, startstringmarkNon, EndsimplestringNon),
                  "startstringmarkNon+len+1<EndsimplestringNon", roomMessage);
  char* copy = startstringmarkNon;
  memcpy(copy, s, n);
  copy[n] = '\0';
  startstringmarkNon += n + 1;
  return copy;
}
