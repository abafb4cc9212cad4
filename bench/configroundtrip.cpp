// One whole "getAllProfiles" round trip against the simulated dock: the
// request built, framed and written through the printer channel, the dock
// reading it and writing its answer of eight profiles, the host reading the
// status block and body and parsing the profiles. The manual clock is
// installed, so nothing in the path sleeps. The two ends are also timed on
// their own, to show where the time goes.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "Common/NetConfig/API/Win32ConfigAPI.h"
#include "Common/NetConfig/Requests.h"
#include "Common/NetConfig/Responses.h"
#include "Platform/Clock.h"
#include "Platform/Machine.h"
#include "Simulators/DockPrinter/DockPrinter.h"
#include "Windows/Win32-USBUtils/USBUtils.h"

namespace {

namespace Dock = Simulators::Dock;

// Eight profiles of the kinds a dock holds: WPA, WEP, open, static IP.
Dock::PrinterState EightProfiles() {
    Dock::PrinterState state = Dock::FactoryState();
    state.profiles.clear();
    for (int id = 0; id < 8; ++id) {
        Dock::Profile p;
        p.id = id;
        p.country = "US";
        p.domain = "FCC";
        p.profileName = "Office network " + std::to_string(id);
        p.friendlyName = "Front desk & lobby " + std::to_string(id);
        p.defaultHostId = "HOST-" + std::to_string(id) + "-0042";
        p.wifi.ssid = "Velmo-" + std::to_string(id);
        p.wifi.channel = id % 11 + 1;
        switch (id % 3) {
            case 0:
                p.wifi.network = Dock::NetworkMode::WpaPsk;
                p.wifi.data = Dock::DataMode::Tkip;
                p.wifi.keys = Dock::KeyKind::WpaPsk;
                p.wifi.wpaKey = "passphrase-" + std::to_string(id);
                break;
            case 1:
                p.wifi.network = Dock::NetworkMode::Shared;
                p.wifi.data = Dock::DataMode::Wep128;
                p.wifi.keys = Dock::KeyKind::Wep;
                p.wifi.wepKeys = {"0123456789ABCDEF0123456789", "", "", ""};
                break;
            default:
                break;
        }
        if (id % 2 == 0) p.ip = {false, "192.168.1." + std::to_string(10 + id), "255.255.255.0", "192.168.1.254"};
        state.profiles[id] = p;
    }
    return state;
}

// The machine, the dock on a hub port and an open channel in configuration mode.
class Bench {
public:
    Bench() {
        Platform::GetMachine().Reset();
        auto& devices = Platform::GetMachine().Devices();
        const auto hc = devices.AddHostController(2);
        dock = std::make_shared<Simulators::DockPrinter>(Simulators::DockPrinter::DefaultIdentity(), EightProfiles());
        dock->Attach(hc.rootHub, 1);
        const auto id = Simulators::DockPrinter::DefaultIdentity();
        DeviceOnHubMatchedVidPid predicate(id.vendorId, id.productId);
        HubEnumSingleResult<PrinterInfoResult> found;
        HubEnumDirector director(&predicate, &found);
        EnumerateHubs(director);
        const auto info = found.GetResult();
        api.OpenByDriverKeyName(info.driverKeyName, static_cast<int>(info.maxOutPacketSize),
                                static_cast<int>(info.maxInPacketSize));
        api.SetConfigMode(true);
    }
    ~Bench() {
        api.Close(true);
        Platform::GetMachine().Reset();
    }

    Platform::ScopedClock clock{std::make_shared<Platform::ManualClock>()};
    std::shared_ptr<Simulators::DockPrinter> dock;
    Win32ConfigAPI api;
};

void BM_GetAllProfilesRoundTrip(benchmark::State& state) {
    Bench bench;
    std::vector<Profile> profiles;
    unsigned count = 0;
    for (auto _ : state) {
        if (!GetAllProfiles(bench.api, profiles) || profiles.size() != 8) state.SkipWithError("round trip failed");
        benchmark::DoNotOptimize(profiles.data());
        // The dock records every request; keep its record from growing without end.
        if (++count % 256 == 0) {
            state.PauseTiming();
            bench.dock->ClearHistory();
            state.ResumeTiming();
        }
    }
    std::string request;
    BuildGetAllProfilesRequest(request);
    Dock::PrinterState dockState = EightProfiles();
    const std::string answer = Dock::Execute(dockState, Dock::ParseRequest(request), {}).body;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * (12 + request.size() + 4 + answer.size())));
    state.counters["answer_bytes"] = static_cast<double>(answer.size());
}
BENCHMARK(BM_GetAllProfilesRoundTrip);

// The dock's share: reading the request and writing the eight profiles.
void BM_DockAnswersGetAllProfiles(benchmark::State& state) {
    std::string request;
    BuildGetAllProfilesRequest(request);
    Dock::PrinterState dockState = EightProfiles();
    for (auto _ : state) {
        auto answer = Dock::Execute(dockState, Dock::ParseRequest(request), {});
        benchmark::DoNotOptimize(answer.body.data());
    }
}
BENCHMARK(BM_DockAnswersGetAllProfiles);

// The host's parse of the same answer.
void BM_HostParsesEightProfiles(benchmark::State& state) {
    std::string request;
    BuildGetAllProfilesRequest(request);
    Dock::PrinterState dockState = EightProfiles();
    const std::string answer = Dock::Execute(dockState, Dock::ParseRequest(request), {}).body;
    std::vector<Profile> profiles;
    for (auto _ : state) {
        if (!ParseGetAllProfilesResponse(answer, profiles)) state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(profiles.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * answer.size()));
}
BENCHMARK(BM_HostParsesEightProfiles);

}  // namespace
