// The provider's application pages, created once at start-up after the
// framework pages.
#pragma once

class MonitorPage;

// Registers the pages (without initializing them); 0 success, 1 failure.
// A page whose registration fails is cleaned up and deleted.
int CreateApplicationPages();

// Registration of one application page; false when it failed (the page is
// then gone).
bool RegisterApplicationPage(MonitorPage* page);
