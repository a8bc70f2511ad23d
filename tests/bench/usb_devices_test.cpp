// The bench's USB device keys as Wine's SetupAPI shows them, and the
// contract the provider stand-in relies on: a token ID is inserted exactly
// when a key Enum\USB\<hardware id>\<ID> exists.
#include "support/bench_carriers.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

#include <algorithm>

namespace {

std::vector<std::string> present_usb_ids()
{
    std::vector<std::string> ids;
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, "USB", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE)
        return ids;
    SP_DEVINFO_DATA device = {};
    for (DWORD i = 0;; ++i) {
        device.cbSize = sizeof device;
        if (!SetupDiEnumDeviceInfo(set, i, &device))
            break;
        char id[MAX_DEVICE_ID_LEN] = {};
        if (CM_Get_Device_IDA(device.DevInst, id, sizeof id, 0) == CR_SUCCESS)
            ids.push_back(id);
    }
    SetupDiDestroyDeviceInfoList(set);
    std::sort(ids.begin(), ids.end());
    return ids;
}

bool token_key_exists(const std::string& hardware_id, const std::string& id)
{
    HKEY key = nullptr;
    const std::string path = "System\\CurrentControlSet\\Enum\\USB\\" + hardware_id + "\\" + id;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

class UsbDevices : public ::testing::Test {
protected:
    void SetUp() override { bench_carriers::clear_all(); }
    void TearDown() override { bench_carriers::clear_all(); }
};

TEST_F(UsbDevices, CompositeTokenShowsOneNodePerInterfaceUnderItsId)
{
    bench_carriers::insert_token("0001", "0A89", 3);
    EXPECT_EQ((std::vector<std::string>{"USB\\VID_0A89&PID_0030&MI_00\\0001&MI_00",
                                        "USB\\VID_0A89&PID_0030&MI_01\\0001&MI_01", "USB\\VID_0A89&PID_0030\\0001"}),
              present_usb_ids());
    EXPECT_TRUE(token_key_exists("VID_0A89&PID_0030", "0001"));
}

TEST_F(UsbDevices, RemovingATokenTakesAllItsNodesAndNothingElse)
{
    bench_carriers::insert_token("0001", "0529", 2);
    bench_carriers::insert_token("0002", "0A89");
    bench_carriers::add_usb_device("mouse", "046D");
    bench_carriers::remove_token("0001");
    EXPECT_FALSE(token_key_exists("VID_0529&PID_0030", "0001"));
    EXPECT_EQ((std::vector<std::string>{"USB\\VID_046D&PID_0001\\MOUSE", "USB\\VID_0A89&PID_0030\\0002"}),
              present_usb_ids());
    bench_carriers::clear_all();
    EXPECT_TRUE(present_usb_ids().empty());
}

}  // namespace
