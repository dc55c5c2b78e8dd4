// The one path of every message to the host: the instance's logger, with the pending runtime
// text in front. Messages are formatted in the process's current locale.
#pragma once

#include <cstddef>

#include "fmi2.h"
#include "instance.h"

// The instance whose model call is in progress, null otherwise. Set immediately before each
// call of the evaluation driver and cleared immediately after; runtime texts reach its logger.
extern ModelInstance* currentInstance;

// Longest message handed to the logger, pending text included, and longest runtime text after
// its '#' characters are doubled.
constexpr int messageLimit = 4094;
constexpr int runtimeTextLimit = 4095;
// Longest copy fmiStrdup makes.
constexpr int strdupLimit = 1024;

// Composes the pending text and the formatted message (cut to messageLimit characters) and
// hands it to the logger as logger(componentEnvironment, name, status, category, text); then
// the pending text is empty. Messages of status fmi2OK are dropped while logging is off, and
// the pending text is then kept. Every '%' of the text reaches the logger as "%%": hosts use the
// text as a printf format, so a formatting host shows exactly the composed text.
void fmiPrintMessage(ModelInstance* instance, const char* name, fmi2Status status, const char* category,
                     const char* format, ...) __attribute__((format(printf, 5, 6)));

// fmiPrintMessage under the instance's own name with the empty category, as the layer's own
// messages go.
void fmiLog(ModelInstance* instance, fmi2Status status, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Whether a time or tolerance the host hands over is finite; when not, logs "%s: %s = %g is not
// a finite number" (the call's name, the argument's) at fmi2Warning.
bool fmiFiniteArgument(ModelInstance* instance, const char* name, const char* argument, double value);

// Appends the formatted text to the pending text, under the same logging filter. A text that
// is empty, or does not fit in what remains below pendingTextLimit, discards the whole pending
// text rather than being cut. name and category are not used.
void fmiAppendMessage(ModelInstance* instance, const char* name, fmi2Status status, const char* category,
                      const char* format, ...) __attribute__((format(printf, 5, 6)));

// Empties the pending text (also makes pendingEnd valid in a fresh record).
void fmiClearPendingText(ModelInstance* instance);

// The runtime's way to the host: level 0 fmi2OK, 1 fmi2Warning, anything else fmi2Error; flush
// nonzero prints, zero appends. Every '#' is doubled (the logger's escape for a literal '#') and
// the result cut to runtimeTextLimit characters. The target is singleInstance when set, else
// currentInstance; without either the text is dropped.
void fmiRuntimeMessage(const char* text, int flush, int level);

// Makes fmiRuntimeMessage the runtime's message bridge. Idempotent; instantiation calls it
// before anything can evaluate.
void fmiInstallRuntimeBridge(void);

// A copy of text ("<NULL>" for null), cut to strdupLimit characters, in memory from
// functions->allocateMemory(length + 1, 1); null when that fails. Release with freeMemory.
char* fmiStrdup(const fmi2CallbackFunctions* functions, const char* text);
