#include "patch/auto_address.h"

#include <algorithm>
#include <ctime>
#include <tuple>

bool AutoAddress(std::vector<AddressedDevice> devices, int firstAddress, int gap, AddressOrder order,
                 std::vector<PatchRecord>& arrangement, std::string& why)
{
    arrangement.clear();
    devices.erase(std::remove_if(devices.begin(), devices.end(), [](const AddressedDevice& d) { return !d.footprint; }),
                  devices.end());
    std::stable_sort(devices.begin(), devices.end(), [order](const AddressedDevice& a, const AddressedDevice& b) {
        const uint64_t ua = a.uid, ub = b.uid;
        switch (order) {
        case AddressOrder::Address: return std::tie(a.startIndex, ua) < std::tie(b.startIndex, ub);
        case AddressOrder::Label: return std::tie(a.label, ua) < std::tie(b.label, ub);
        case AddressOrder::Uid: break;
        }
        return ua < ub;
    });
    int next = firstAddress;
    for (const AddressedDevice& d : devices) {
        const int last = next + d.footprint - 1;
        if (last > 512) {
            why = d.uid.colonText() + " (" + std::to_string(d.footprint) + " slots) would take " +
                  std::to_string(next) + "-" + std::to_string(last) + ", past slot 512: the universe cannot hold " +
                  std::to_string(devices.size()) + " devices from " + std::to_string(firstAddress) +
                  (gap ? " with " + std::to_string(gap) + " free slots between them" : "");
            arrangement.clear();
            return false;
        }
        arrangement.push_back({d.uid, uint16_t(next - 1), d.footprint});
        next = last + 1 + gap;
    }
    return true;
}

std::string BeforeAutoFileName()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char name[64];
    std::strftime(name, sizeof name, "patch-before-auto-%Y%m%d-%H%M%S.pat", &local);
    return name;
}
