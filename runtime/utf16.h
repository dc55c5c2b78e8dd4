// UTF-8 to UTF-16 text conversion.
#pragma once

// A newly allocated, zero-terminated UTF-16 copy of `text` (UTF-8 of one to three bytes per
// character; sequences are not validated and four-byte sequences are not turned into surrogate
// pairs). A sequence cut short by the end of the text ends the copy before it. Returns null when
// `text` is null or memory is exhausted; the caller releases the copy with free.
char16_t* Utf8ToWide(const char* text);
