// COM ports on Windows: the devices of the setup API's "Ports" class
// (setupapi.dll loaded at run time, so the program starts where it is
// missing) and the default-configuration probe of COMn.
#include <windows.h>

#include <setupapi.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "shell/ports.h"
#include "resources/resource.h"

namespace kx305mon {

namespace {

constexpr DWORD kDescriptionSize = 256;  // bytes of the device description read
constexpr DWORD kPortNameSize = 64;

// The setup API functions this module uses, looked up by name.
struct SetupApi {
    decltype(&SetupDiClassGuidsFromNameA) classGuidsFromName = nullptr;
    decltype(&SetupDiGetClassDevsA) getClassDevs = nullptr;
    decltype(&SetupDiEnumDeviceInfo) enumDeviceInfo = nullptr;
    decltype(&SetupDiOpenDevRegKey) openDevRegKey = nullptr;
    decltype(&SetupDiGetDeviceRegistryPropertyA) getDeviceRegistryProperty = nullptr;
    decltype(&SetupDiDestroyDeviceInfoList) destroyDeviceInfoList = nullptr;

    template <typename Function>
    static bool Find(HMODULE library, const char* name, Function& function) {
        function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
        return function != nullptr;
    }

    bool Load(HMODULE library) {
        return Find(library, "SetupDiClassGuidsFromNameA", classGuidsFromName) &&
               Find(library, "SetupDiGetClassDevsA", getClassDevs) &&
               Find(library, "SetupDiEnumDeviceInfo", enumDeviceInfo) &&
               Find(library, "SetupDiOpenDevRegKey", openDevRegKey) &&
               Find(library, "SetupDiGetDeviceRegistryPropertyA", getDeviceRegistryProperty) &&
               Find(library, "SetupDiDestroyDeviceInfoList", destroyDeviceInfoList);
    }
};

// The port number of a device's "PortName", or 0.
unsigned DevicePort(const SetupApi& api, HDEVINFO devices, SP_DEVINFO_DATA& device) {
    HKEY key = api.openDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (key == nullptr || key == INVALID_HANDLE_VALUE) return 0;
    char name[kPortNameSize] = {};
    DWORD type = 0;
    DWORD size = sizeof name;
    const LONG result = RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_SZ) return 0;
    return ParsePortName(std::string_view(name, strnlen(name, size < sizeof name ? size : sizeof name)));
}

class WindowsPortDiscovery final : public PortDiscovery {
public:
    bool EnumerateSerialPorts(PortTable& table) override {
        HMODULE library = LoadLibraryA("setupapi.dll");
        if (library == nullptr) return false;
        SetupApi api;
        const bool listed = api.Load(library) && Enumerate(api, table);
        FreeLibrary(library);
        return listed;
    }

    bool HasDefaultConfig(unsigned port) override {
        char name[16];
        std::snprintf(name, sizeof name, "COM%u", port);
        COMMCONFIG config = {};
        config.dwSize = sizeof config;
        DWORD size = sizeof config;
        return GetDefaultCommConfigA(name, &config, &size) != FALSE;
    }

private:
    static bool Enumerate(const SetupApi& api, PortTable& table) {
        DWORD count = 0;
        api.classGuidsFromName("Ports", nullptr, 0, &count);
        if (count == 0) return false;
        std::vector<GUID> guids(count);
        if (!api.classGuidsFromName("Ports", guids.data(), count, &count) || count == 0) return false;
        HDEVINFO devices = api.getClassDevs(&guids[0], nullptr, nullptr, DIGCF_PRESENT);
        if (devices == INVALID_HANDLE_VALUE) return false;
        SP_DEVINFO_DATA device = {};
        device.cbSize = sizeof device;
        for (DWORD index = 0; api.enumDeviceInfo(devices, index, &device); ++index) {
            const unsigned port = DevicePort(api, devices, device);
            if (port == 0) continue;
            std::optional<std::string>& slot = table[port - 1];
            slot = std::string();
            char description[kDescriptionSize] = {};
            if (api.getDeviceRegistryProperty(devices, &device, SPDRP_DEVICEDESC, nullptr,
                                              reinterpret_cast<BYTE*>(description), sizeof description, nullptr)) {
                // Cut inside the buffer even when the text filled it.
                const size_t length = strnlen(description, sizeof description - 1);
                if (length != 0) slot = std::string(description, length);
            }
        }
        api.destroyDeviceInfoList(devices);
        return true;
    }
};

}  // namespace

PortDiscovery& SystemPortDiscovery() {
    static WindowsPortDiscovery discovery;
    return discovery;
}

void FillPortCombo(WindowRef dialog, AppContext& context) {
    for (const std::string& entry : PortComboEntriesFor(context, SystemPortDiscovery())) {
        SendDlgItemMessageA(reinterpret_cast<HWND>(dialog), IDC_PORT_COMBO, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(entry.c_str()));
    }
}

}  // namespace kx305mon
