#include "bridge.h"

namespace {
RuntimeMessageBridge installedBridge = nullptr;
}

void SetRuntimeMessageBridge(RuntimeMessageBridge bridge) { installedBridge = bridge; }

RuntimeMessageBridge GetRuntimeMessageBridge(void) { return installedBridge; }

void RuntimeBridgeMessage(const char* text, int flush, int level) {
  if (installedBridge && text) installedBridge(text, flush, level);
}
