#include "inventory/ApplicationPages.h"

#include "inventory/Cinventory.h"

bool RegisterApplicationPage(MonitorPage* page) {
  if (page->Register() != 0) {
    page->Cleanup();
    delete page;
    return false;
  }
  return true;
}

int CreateApplicationPages() { return RegisterApplicationPage(new Cinventory) ? 0 : 1; }
