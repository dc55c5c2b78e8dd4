// The one path from the runtime to the host. The FMI layer installs its message function here;
// without one, runtime texts are dropped.
#pragma once

// level 0 is an information (fmi2OK), 1 a warning, any other value an error; flush nonzero
// prints the text at once, zero keeps it pending for the next message.
typedef void (*RuntimeMessageBridge)(const char* text, int flush, int level);

void SetRuntimeMessageBridge(RuntimeMessageBridge bridge);
RuntimeMessageBridge GetRuntimeMessageBridge(void);
void RuntimeBridgeMessage(const char* text, int flush, int level);
