// Placeholder until the upgrade requests land: 0x0D and 0x0E are logged and dropped.
#include "log/log.h"
#include "relay/ovra7_service.h"

void Ovra7Service::procDownloadUpgradeFile(const uint8_t*, int n) {
  WriteLog("procDownloadUpgradeFile len:%d", n);
}

void Ovra7Service::procSendUpgradeFile(const uint8_t*, int n) {
  WriteLog("procSendUpgradeFile len:%d", n);
}
