#include "inventory/ApplicationPages.h"

#include "inventory/ChassisIdentify.h"
#include "inventory/Cinventory.h"

bool RegisterApplicationPage(MonitorPage* page) {
  if (page->Register() != 0) {
    page->Cleanup();
    delete page;
    return false;
  }
  return true;
}

int CreateApplicationPages() {
  if (ChassisIdentify::IsChassisIdentifySupported() && !RegisterApplicationPage(new ChassisIdentify)) return 1;
  return RegisterApplicationPage(new Cinventory) ? 0 : 1;
}
