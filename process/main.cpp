#include "process/ProviderMain.h"

int main(int argc, char** argv) { return ProviderMain(argc, argv); }
