// bench_carrier_view.exe: the carriers as any Windows program of the
// workstation sees them through the real API (the PC/SC stand-in and Wine's
// SetupAPI), for bench/workstation and for people checking a bench state.
//   readers   one line per reader: name TAB connect code TAB active protocol
//   usb       one line per present USB device node: its instance ID
#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>
#include <winscard.h>

#include <cstdio>
#include <cstring>

namespace {

int list_readers()
{
    SCARDCONTEXT context = 0;
    LONG rc = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context);
    if (rc != SCARD_S_SUCCESS) {
        std::printf("establish\t0x%08lX\n", static_cast<unsigned long>(rc));
        return 1;
    }
    LPSTR list = nullptr;
    DWORD length = SCARD_AUTOALLOCATE;
    rc = SCardListReadersA(context, nullptr, reinterpret_cast<LPSTR>(&list), &length);
    if (rc == SCARD_S_SUCCESS) {
        for (const char* name = list; *name; name += std::strlen(name) + 1) {
            SCARDHANDLE card = 0;
            DWORD protocol = 0;
            LONG connected = SCardConnectA(context, name, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1,
                                           &card, &protocol);
            std::printf("%s\t0x%08lX\t%lu\n", name, static_cast<unsigned long>(connected), protocol);
            if (connected == SCARD_S_SUCCESS)
                SCardDisconnect(card, SCARD_LEAVE_CARD);
        }
        SCardFreeMemory(context, list);
    } else {
        std::printf("list\t0x%08lX\n", static_cast<unsigned long>(rc));
    }
    SCardReleaseContext(context);
    return 0;
}

int list_usb()
{
    HDEVINFO devices = SetupDiGetClassDevsA(nullptr, "USB", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (devices == INVALID_HANDLE_VALUE)
        return 1;
    SP_DEVINFO_DATA device = {};
    for (DWORD index = 0;; ++index) {
        device.cbSize = sizeof device;
        if (!SetupDiEnumDeviceInfo(devices, index, &device))
            break;
        char id[MAX_DEVICE_ID_LEN] = {};
        if (CM_Get_Device_IDA(device.DevInst, id, sizeof id, 0) == CR_SUCCESS)
            std::printf("%s\n", id);
    }
    SetupDiDestroyDeviceInfoList(devices);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "readers") == 0)
        return list_readers();
    if (argc == 2 && std::strcmp(argv[1], "usb") == 0)
        return list_usb();
    std::fprintf(stderr, "usage: bench_carrier_view readers|usb\n");
    return 2;
}
