#include "winscard/pci_tables.h"

extern "C" const ScardIoRequest g_rgSCardT0Pci = {1, sizeof(ScardIoRequest)};
extern "C" const ScardIoRequest g_rgSCardT1Pci = {2, sizeof(ScardIoRequest)};
extern "C" const ScardIoRequest g_rgSCardRawPci = {0x10000, sizeof(ScardIoRequest)};
