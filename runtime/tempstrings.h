// Temporary strings and the String() conversions.
//
// Strings built at run time (assertion messages, String() results, results of string functions)
// are cut from the calling thread's string area, a bump buffer of its ThreadBlock, and vanish
// together when the thread's string mark moves back: by StringMarkSet, StringMarkKeep or MarkReset
// (which ResetFunctionStack performs). A string that must outlive that is copied into the
// process-wide permanent area, which only grows.
//
// Every operation first creates the thread's work buffers when it has none. A request that does
// not fit fails through AssertCondition with "stringmark+len+1<Endsimplestring" and "Room to
// allocate string", so the longest string an empty area grants is 9,998 characters. Conversions
// format in the process's current locale.
#pragma once

#include <cstddef>

enum StringAreaSizes {
  permanentStringAreaSize = 100000
};

// The permanent area's next free character and its end. The area only grows, for the whole
// process, and only one thread at a time may copy into it.
extern char* startstringmarkNon;
extern char* const EndsimplestringNon;

// Room for length characters and a terminator; the content is not initialised. A negative length
// is refused like one that does not fit.
char* StringAllocate(int length);
// The same for a length of any size, as ModelicaAllocateString receives it.
char* StringAllocateSize(size_t length);
// 1 when StringAllocateSize(length) would succeed now, else 0; never fails.
int StringFits(size_t length);

// The first length characters of text padded with blanks to minimumLength, right-justified unless
// leftJustified, as a new string of the area; a negative minimumLength pads to its magnitude with
// left adjustment.
char* StringPadded(const char* text, size_t length, int leftJustified, int minimumLength);

// a followed by b, in a new string of the area. A null pointer counts as "".
char* StringConcat(const char* a, const char* b);

// The next free character of the area; StringMarkSet(mark) moves it back there, releasing every
// string made after that point. A null mark, or one outside the calling thread's area, is ignored.
char* StringMarkGet(void);
void StringMarkSet(char* mark);
// Releases the strings made after place but keeps result: a result made after place (and wholly
// below the mark) moves down to place and the mark follows just after its terminator; a result
// made before place (or outside the area) stays where it is and only the mark moves to place.
const char* StringMarkKeep(const char* result, char* place);

// String(x, significantDigits, minimumLength, leftJustified): "%-*.*g" or "%*.*g". Width and
// digits of 40 or more fail with "precision<40 && minwidth<40". A negative minimumLength pads to
// its magnitude with left adjustment, as printf's "*" width does.
char* RealToString(double x, int leftJustified, int minimumLength, int significantDigits);
// RealToString with 6 significant digits.
char* RealToStringDefault(double x, int leftJustified, int minimumLength);
// Right-justified "%*.*g"; the same limits as RealToString.
char* RealToStringPrecision(double x, int minimumLength, int precision);
// String(x, format = format): format is one conversion without its percent sign,
// [flags][width][.precision] followed by one of e E f F g G a A (flags from "-+ #0"), for example
// ".3f" or "10.4e". The format with its percent sign is made in the area first and stays there,
// before the result. A text of 100 characters or more fails with "buf[99]=='\\0'"; any other
// format fails with "ValidRealFormat(format)".
char* RealToStringFormat(double x, const char* format);
// "%-*d" or "%*d"; a minimumLength of 40 or more fails with "minwidth<40".
char* IntegerToString(int i, int leftJustified, int minimumLength);
// Right-justified "%*.*d"; precision or width of 40 or more fails with "precision<40 && minwidth<40".
char* IntegerToStringPrecision(int i, int minimumLength, int precision);
// "true" for nonzero, "false" for 0, as "%-*s" or "%*s"; the limit of IntegerToString.
char* BooleanToString(int b, int leftJustified, int minimumLength);

// s itself when it does not lie in the calling thread's string area (literals, permanent strings,
// strings owned elsewhere), else a copy in the permanent area. A full permanent area fails with
// "startstringmarkNon+len+1<EndsimplestringNon" and "Room to allocate string".
char* StringToPermanent(char* s);
