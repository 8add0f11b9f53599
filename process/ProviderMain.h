// The provider's start-up, run and teardown.
#pragma once

int ProviderMain(int argc, char** argv);
