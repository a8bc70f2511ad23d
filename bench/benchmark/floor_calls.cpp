#include "benchmark/floor_calls.h"

#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>
#include <winscard.h>

#include <cstring>

namespace floor_calls {

namespace {

const char mutex_name[] = "nivra_crypto_pro_mutex";
const char data_folder[] = "c:\\nivra";
const char settings_path[] = "c:\\nivra\\Keyhaven.ini";

// The readers a quiet turn never opens.
bool skipped(const char* reader)
{
    return std::strstr(reader, "FT SCR") || std::strstr(reader, "Rutoken Magistra");
}

// Sends the probe, following 61 xx with GET RESPONSE a few times at most.
bool probe(SCARDHANDLE card)
{
    BYTE command[260] = {0x80, 0xFE, 0x06, 0x00, 0x00};
    for (int exchange = 0; exchange < 8; ++exchange) {
        BYTE reply[260] = {};
        DWORD length = sizeof reply;
        if (SCardTransmit(card, SCARD_PCI_T0, command, 5, nullptr, reply, &length) != SCARD_S_SUCCESS || length < 2)
            return false;
        const BYTE sw1 = reply[length - 2], sw2 = reply[length - 1];
        if (sw1 != 0x61)
            return sw1 == 0x90 && sw2 == 0x00;
        const BYTE get_response[5] = {0x00, 0xC0, 0x00, 0x00, sw2};
        std::memcpy(command, get_response, sizeof get_response);
    }
    return false;
}

bool probe_reader(const char* reader)
{
    SCARDCONTEXT context = 0;
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) != SCARD_S_SUCCESS)
        return false;
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    bool answered = false;
    if (SCardConnectA(context, reader, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0, &card, &protocol) == SCARD_S_SUCCESS) {
        answered = probe(card);
        SCardDisconnect(card, SCARD_LEAVE_CARD);
    }
    SCardReleaseContext(context);
    return answered;
}

}  // namespace

void mutexes()
{
    if (HANDLE other = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, mutex_name))
        CloseHandle(other);
    if (HANDLE lock = CreateMutexA(nullptr, TRUE, mutex_name)) {
        ReleaseMutex(lock);
        CloseHandle(lock);
    }
}

long settings_file()
{
    CreateDirectoryA(data_folder, nullptr);
    HANDLE file = CreateFileA(settings_path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    long total = 0;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        total += static_cast<long>(got);
    CloseHandle(file);
    return total;
}

int readers()
{
    SCARDCONTEXT context = 0;
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) != SCARD_S_SUCCESS)
        return 0;
    LPSTR list = nullptr;
    DWORD length = SCARD_AUTOALLOCATE;
    int cards = 0;
    if (SCardListReadersA(context, nullptr, reinterpret_cast<LPSTR>(&list), &length) == SCARD_S_SUCCESS && list) {
        for (const char* reader = list; *reader; reader += std::strlen(reader) + 1)
            if (!skipped(reader) && probe_reader(reader))
                ++cards;
        SCardFreeMemory(context, list);
    }
    SCardReleaseContext(context);
    return cards;
}

int usb_walk()
{
    HDEVINFO devices = SetupDiGetClassDevsA(nullptr, "USB", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (devices == INVALID_HANDLE_VALUE)
        return 0;
    int nodes = 0;
    SP_DEVINFO_DATA device = {};
    for (DWORD index = 0;; ++index) {
        device.cbSize = sizeof device;
        if (!SetupDiEnumDeviceInfo(devices, index, &device))
            break;
        char id[200] = {};
        if (CM_Get_Device_IDA(device.DevInst, id, sizeof id, 0) == CR_SUCCESS)
            ++nodes;
    }
    SetupDiDestroyDeviceInfoList(devices);
    return nodes;
}

void turn()
{
    mutexes();
    settings_file();
    readers();
    usb_walk();
}

}  // namespace floor_calls
