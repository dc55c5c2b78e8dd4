#include "utf16.h"

#include <stdlib.h>
#include <string.h>

char16_t* Utf8ToWide(const char* text) {
  if (!text) return nullptr;
  // Every code unit takes at least one byte, so length + 1 units always suffice.
  size_t length = strlen(text);
  char16_t* wide = static_cast<char16_t*>(malloc((length + 1) * sizeof(char16_t)));
  if (!wide) return nullptr;
  const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
  size_t out = 0;
  while (unsigned a = *in) {
    if (a < 0x80) {
      wide[out++] = static_cast<char16_t>(a);
      in += 1;
    } else if ((a & 0xE0) == 0xC0) {
      unsigned b = in[1];
      if (!b) break;
      wide[out++] = static_cast<char16_t>(((a & 0x1F) << 6) | (b & 0x3F));
      in += 2;
    } else {
      // The third byte is read only when the second is not the terminator.
      unsigned b = in[1];
      if (!b) break;
      unsigned c = in[2];
      if (!c) break;
      wide[out++] = static_cast<char16_t>(((a & 0x0F) << 12) | ((b & 0x3F) << 6) | (c & 0x3F));
      in += 3;
    }
  }
  wide[out] = 0;
  return wide;
}
