#pragma once
// The protocol headers that winscard.dll exports as data (SCARD_PCI_T0 is
// &g_rgSCardT0Pci in a program's <winscard.h>), shared by the bench's two
// winscard.dll builds. Declared with types of their own: <winscard.h>'s
// declarations would clash beside these definitions.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN  // keeps <winscard.h> and its declarations out
#endif
#include <windows.h>

struct ScardIoRequest {
    DWORD dwProtocol;
    DWORD cbPciLength;
};

extern "C" const ScardIoRequest g_rgSCardT0Pci;
extern "C" const ScardIoRequest g_rgSCardT1Pci;
extern "C" const ScardIoRequest g_rgSCardRawPci;
