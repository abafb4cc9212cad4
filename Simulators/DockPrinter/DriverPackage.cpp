#include "DriverPackage.h"

#include "HardwareId.h"

namespace Simulators {

namespace {

struct Model {
    const char16_t* name;  // as the family's documents name it
    const char16_t* section;
    const char16_t* profile;  // its colour profile
};

constexpr Model kModels[] = {
    {u"Glimmer Dock Wireless", u"GlimmerDockWireless.NT", u"Glimmer Dock.icm"},
    {u"Glimmer Photo 4", u"GlimmerPhoto4.NT", u"Glimmer Photo 4 Gloss.ICM"},
    {u"Glimmer Photo 6 Studio", u"GlimmerPhoto6Studio.NT", u"Glimmer.Photo6.Studio.icm"},
};

constexpr char16_t kInf[] = u"C:\\Windows\\INF\\velmo.inf";
constexpr char16_t kColorFolder[] = u"C:\\Windows\\System32\\spool\\drivers\\color\\";
constexpr char16_t kDriverFolder[] = u"C:\\Windows\\System32\\spool\\drivers\\W32X86\\3\\";

}  // namespace

std::vector<Platform::DriverPackage> VelmoDriverPackages() {
    std::vector<Platform::DriverPackage> packages;
    for (const auto& model : kModels) {
        Platform::DriverPackage package;
        package.description = std::u16string(u"Velmo ") + model.name;
        package.infPath = kInf;
        package.section = model.section;
        package.hardwareIds = {PortMonitorUtilities::MakeHardwareId(kDriverManufacturer, model.name)};
        package.targetFiles = {std::u16string(kDriverFolder) + u"VLMDRV.DLL",
                               std::u16string(kDriverFolder) + u"VLMDRV.INI",
                               std::u16string(kColorFolder) + model.profile};
        packages.push_back(std::move(package));
    }
    return packages;
}

}  // namespace Simulators
