// The discovery provider with a fake DNS-SD core: the TXT record, the name
// decoding, the device list and its reports, the use of the core.
#include "Discovery.h"

#include "Platform/Clock.h"
#include "Platform/Machine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <set>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Jorvale::DnsSdEvents;
using Jorvale::TxtValues;

std::string Txt(std::initializer_list<std::string> entries) {
    std::string record;
    for (const auto& e : entries) {
        record.push_back(static_cast<char>(e.size()));
        record += e;
    }
    return record;
}

TxtValues Parse(const std::string& record) {
    return Jorvale::ParseTxtRecord(reinterpret_cast<const unsigned char*>(record.data()), record.size());
}

// --- TXT record --------------------------------------------------------------

TEST(PtpDiscoveryTxt, KeysInAnyCaseAndHexadecimalValues) {
    const auto v = Parse(Txt({"guid=abc", "VID=0x3B7D", "Pid=0102", "seq=1f", "VER=2", "model=X", "usbvid=9999"}));
    EXPECT_EQ(v.guid, u"{ABC}");
    EXPECT_EQ(v.vendorId, 0x3B7Du);
    EXPECT_EQ(v.productId, 0x102u);
    EXPECT_EQ(v.sequence, 0x1Fu);
    EXPECT_EQ(v.version, 2u);

    // The other key set alone gives no vendor id: "USBVID=" is not "VID=".
    const auto other = Parse(Txt({"usbvid=3B7D", "pid=0102", "guid=5e1d"}));
    EXPECT_EQ(other.vendorId, 0u);
    EXPECT_EQ(other.productId, 0x102u);
    EXPECT_EQ(other.guid, u"{5E1D}");
}

TEST(PtpDiscoveryTxt, NumbersReadAsThe32BitLibraryDoes) {
    EXPECT_EQ(Parse(Txt({"VID=123456789"})).vendorId, 0xFFFFFFFFu);
    EXPECT_EQ(Parse(Txt({"VID=-1"})).vendorId, 0xFFFFFFFFu);
    EXPECT_EQ(Parse(Txt({"VID=-2"})).vendorId, 0xFFFFFFFEu);
    EXPECT_EQ(Parse(Txt({"VID= 7Z"})).vendorId, 7u);
    EXPECT_EQ(Parse(Txt({"VID=zz"})).vendorId, 0u);
    EXPECT_EQ(Parse(Txt({"VID=0x"})).vendorId, 0u);
}

TEST(PtpDiscoveryTxt, RecordShapes) {
    // Exactly 22 bytes: not read at all; one byte more and it is.
    const std::string entry21 = "VID=12345678901234567";
    ASSERT_EQ(Txt({entry21}).size(), 22u);
    EXPECT_EQ(Parse(Txt({entry21})).vendorId, 0u);
    EXPECT_EQ(Parse(Txt({entry21 + "8"})).vendorId, 0xFFFFFFFFu);

    // An entry running past the end stops the reading; what came before stays.
    std::string cut = Txt({"VID=5"}) + std::string(1, '\x30') + "PID=6";
    const auto v = Parse(cut);
    EXPECT_EQ(v.vendorId, 5u);
    EXPECT_EQ(v.productId, 0u);

    // An empty entry, a zero byte inside an entry.
    const auto z = Parse(Txt({"", std::string("GUID=AB\0CD", 10), "VER=3"}));
    EXPECT_EQ(z.guid, u"{AB}");
    EXPECT_EQ(z.version, 3u);
    EXPECT_EQ(Jorvale::ParseTxtRecord(nullptr, 10).vendorId, 0u);
}

TEST(PtpDiscoveryTxt, GuidTextIsBoundedAndDecodedSafely) {
    // 127 bytes of an entry are looked at, and the text keeps 39 units.
    const auto longGuid = Parse(Txt({"GUID=" + std::string(200, 'a')}));
    EXPECT_EQ(longGuid.guid, u"{" + std::u16string(38, u'A'));
    // A four-byte sequence becomes a surrogate pair, a stray byte U+FFFD;
    // the lower-case letters are raised, the others left alone.
    const auto odd = Parse(Txt({"guid=\xF0\x9F\x98\x80x\xFF\xC3\xA9"}));
    EXPECT_EQ(odd.guid, std::u16string({u'{', 0xD83D, 0xDE00, u'X', 0xFFFD, 0xE9, u'}'}));
}

// --- The provider ------------------------------------------------------------------

class FakeCore;

class FakeEngine final : public Jorvale::DnsSdEngine {
public:
    FakeEngine(FakeCore& core, DnsSdEvents& events);
    ~FakeEngine() override;
    std::int32_t Browse(const std::string& type, const std::string& domain) override;
    FakeCore& core;
    DnsSdEvents& events;
};

class FakeCore final : public Jorvale::DnsSdCore {
public:
    bool Start() override {
        ++starts;
        return startResult;
    }
    void Shutdown() override { ++shutdowns; }
    std::unique_ptr<Jorvale::DnsSdEngine> CreateClient(DnsSdEvents& e) override {
        if (failClients) return nullptr;
        return std::make_unique<FakeEngine>(*this, e);
    }

    bool startResult = true;
    bool failClients = false;
    std::int32_t browseError = 0;
    int starts = 0;
    int shutdowns = 0;
    std::vector<std::string> browses;
    std::atomic<int> liveClients{0};
    DnsSdEvents* events = nullptr;  // of the latest client
    std::function<void(DnsSdEvents&)> onBrowse;
};

FakeEngine::FakeEngine(FakeCore& c, DnsSdEvents& e) : core(c), events(e) {
    ++core.liveClients;
}
FakeEngine::~FakeEngine() {
    --core.liveClients;
    if (core.events == &events) core.events = nullptr;
}
std::int32_t FakeEngine::Browse(const std::string& type, const std::string& domain) {
    core.browses.push_back(type + " in " + domain);
    if (core.browseError) return core.browseError;
    core.events = &events;
    if (core.onBrowse) core.onBrowse(events);
    return 0;
}

struct Report {
    std::u16string url;
    DWORD size;
    DWORD present;
    std::u16string name, guid, kind, vendor, product;
    DWORD reserved1, reserved2, version;
};

// Stands for the transport: the report function finds it through the
// transport pointer.
struct Recorder : PtpiTransport {
    std::recursive_mutex lock;
    std::mutex mutex;
    std::vector<Report> reports;
    bool lockHeld = true;

    static void Record(PtpiTransport* transport, LPCWSTR url, const PtpDeviceInfo* info) {
        auto* self = static_cast<Recorder*>(transport);
        // The provider reports with the transport's lock held.
        bool held = false;
        std::thread probe([&] {
            held = !self->lock.try_lock();
            if (!held) self->lock.unlock();
        });
        probe.join();
        std::lock_guard guard(self->mutex);
        self->lockHeld = self->lockHeld && held;
        self->reports.push_back({url, info->size, info->present, info->name, info->guid, info->kind, info->vendorId,
                                 info->productId, info->reserved1, info->reserved2, info->version});
    }
    std::vector<Report> Take() {
        std::lock_guard guard(mutex);
        return std::exchange(reports, {});
    }
};

class PtpDiscovery : public ::testing::Test {
protected:
    void SetUp() override { Jorvale::SetDnsSdCore(&core); }
    void TearDown() override {
        for (auto* p : providers) p->ops->Release(p);
        EXPECT_EQ(Jorvale::DnsSdCoreUses(), 0u);
        EXPECT_EQ(core.liveClients, 0);
        Jorvale::SetDnsSdCore(nullptr);
    }

    PtpiDiscovery* Make() {
        PtpiDiscovery* p = nullptr;
        EXPECT_EQ(Jorvale::CreateDiscovery(&recorder, &Recorder::Record, recorder.lock, &p), 0);
        providers.push_back(p);
        return p;
    }
    PtpiDiscovery* Started() {
        PtpiDiscovery* p = Make();
        EXPECT_EQ(p->ops->Start(p, kPtpEnumAsync), 0);
        return p;
    }
    void Resolve(const std::string& name, std::array<std::uint8_t, 4> ip, std::uint16_t port, const std::string& txt) {
        ASSERT_NE(core.events, nullptr);
        core.events->Resolved(name, ip, port, txt);
    }

    FakeCore core;
    Recorder recorder;
    std::vector<PtpiDiscovery*> providers;
};

TEST_F(PtpDiscovery, AResolvedServiceIsReportedWithItsRecord) {
    Started();
    Resolve("Dock \xC3\xA9", {192, 168, 1, 20}, 15740, Txt({"GUID=5e1d-01", "VID=3B7D", "PID=0102", "VER=3"}));
    auto reports = recorder.Take();
    ASSERT_EQ(reports.size(), 1u);
    const Report& r = reports[0];
    EXPECT_EQ(r.url, u"ptp://192.168.1.20:15740/");
    EXPECT_EQ(r.size, sizeof(PtpDeviceInfo));
    EXPECT_EQ(r.present, 1u);
    EXPECT_EQ(r.name, u"Dock \u00E9");
    EXPECT_EQ(r.guid, u"{5E1D-01}");
    EXPECT_EQ(r.kind, u"PTPIP");
    EXPECT_EQ(r.vendor, u"00003B7D");
    EXPECT_EQ(r.product, u"00000102");
    EXPECT_EQ(r.reserved1, 0u);
    EXPECT_EQ(r.reserved2, 0u);
    EXPECT_EQ(r.version, 3u);
    EXPECT_TRUE(recorder.lockHeld);
}

TEST_F(PtpDiscovery, ChangesAreReportedAsGoneThenPresent) {
    Started();
    const std::string txt = Txt({"GUID=A", "VID=1", "VER=1"});
    Resolve("P", {10, 0, 0, 1}, 80, txt);
    recorder.Take();

    // The same again, or only a new GUID: nothing to report.
    Resolve("P", {10, 0, 0, 1}, 80, txt);
    Resolve("P", {10, 0, 0, 1}, 80, Txt({"GUID=B", "VID=1", "VER=1"}));
    EXPECT_TRUE(recorder.Take().empty());

    // A new version: gone (new values, old address), then present.
    Resolve("P", {10, 0, 0, 1}, 80, Txt({"GUID=B", "VID=1", "VER=2"}));
    auto reports = recorder.Take();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].present, 0u);
    EXPECT_EQ(reports[0].version, 2u);
    EXPECT_EQ(reports[0].guid, u"{B}");
    EXPECT_EQ(reports[1].present, 1u);

    // A new address: gone at the old one, present at the new one.
    Resolve("P", {10, 0, 0, 2}, 81, Txt({"GUID=B", "VID=1", "VER=2"}));
    reports = recorder.Take();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].url, u"ptp://10.0.0.1:80/");
    EXPECT_EQ(reports[0].present, 0u);
    EXPECT_EQ(reports[1].url, u"ptp://10.0.0.2:81/");
    EXPECT_EQ(reports[1].present, 1u);

    // Each of the ids and the sequence counts as a change.
    for (const auto& changed : {Txt({"GUID=B", "VID=2", "VER=2"}), Txt({"GUID=B", "VID=2", "PID=1", "VER=2"}),
                                Txt({"GUID=B", "VID=2", "PID=1", "SEQ=1", "VER=2"})}) {
        Resolve("P", {10, 0, 0, 2}, 81, changed);
        EXPECT_EQ(recorder.Take().size(), 2u);
    }
}

TEST_F(PtpDiscovery, RemovalsResetsAndReportAll) {
    PtpiDiscovery* p = Started();
    Resolve("A", {10, 0, 0, 1}, 1, Txt({"VER=1"}));
    Resolve("B", {10, 0, 0, 2}, 2, Txt({"VER=1"}));
    Resolve("C", {10, 0, 0, 3}, 3, Txt({"VER=1"}));
    recorder.Take();

    core.events->Removed("B");
    core.events->Removed("unknown");
    auto reports = recorder.Take();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].name, u"B");
    EXPECT_EQ(reports[0].present, 0u);

    EXPECT_EQ(p->ops->ReportAll(p), 0);
    reports = recorder.Take();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].name, u"A");
    EXPECT_EQ(reports[1].name, u"C");
    EXPECT_EQ(reports[1].present, 1u);

    // A reset forgets everything without a word; the next answer is new.
    core.events->Reset();
    EXPECT_TRUE(recorder.Take().empty());
    p->ops->ReportAll(p);
    EXPECT_TRUE(recorder.Take().empty());
    Resolve("A", {10, 0, 0, 1}, 1, Txt({"VER=1"}));
    EXPECT_EQ(recorder.Take().size(), 1u);
}

TEST_F(PtpDiscovery, LongNamesAreCutForTheListAndTheReport) {
    PtpiDiscovery* p = Started();
    const std::string base(63, 'n');
    Resolve(base + "1", {10, 0, 0, 1}, 1, Txt({"VER=1"}));
    // The same 63 bytes: the same device.
    Resolve(base + "2", {10, 0, 0, 1}, 1, Txt({"VER=1"}));
    auto reports = recorder.Take();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].name, std::u16string(39, u'n'));
    core.events->Removed(base + "3");
    EXPECT_EQ(recorder.Take().size(), 1u);
    p->ops->ReportAll(p);
    EXPECT_TRUE(recorder.Take().empty());
}

TEST_F(PtpDiscovery, StartBrowsesOnceAndSharesTheCore) {
    PtpiDiscovery* first = Make();
    PtpiDiscovery* second = Make();
    // Made without starting: the core is not touched.
    EXPECT_EQ(core.starts, 0);
    EXPECT_EQ(Jorvale::DnsSdCoreUses(), 0u);

    EXPECT_EQ(first->ops->Start(first, kPtpEnumAsync), 0);
    EXPECT_EQ(first->ops->Start(first, kPtpEnumAsync), 0);
    EXPECT_EQ(second->ops->Start(second, kPtpEnumAsync), 0);
    EXPECT_EQ(core.browses, (std::vector<std::string>{"_ptp._tcp. in local.", "_ptp._tcp. in local."}));
    EXPECT_EQ(core.starts, 1);
    EXPECT_EQ(Jorvale::DnsSdCoreUses(), 2u);
    EXPECT_EQ(first->ops->Stop(first), 0);
    EXPECT_EQ(first->ops->Refresh(first), 0);

    EXPECT_EQ(first->ops->AddRef(first), 2u);
    EXPECT_EQ(first->ops->Release(first), 1u);
    providers.erase(providers.begin());
    EXPECT_EQ(first->ops->Release(first), 0u);
    EXPECT_EQ(core.shutdowns, 0);
    EXPECT_EQ(Jorvale::DnsSdCoreUses(), 1u);
    providers.clear();
    second->ops->Release(second);
    EXPECT_EQ(core.shutdowns, 1);
    EXPECT_EQ(core.liveClients, 0);

    // A later start starts the core again.
    Started();
    EXPECT_EQ(core.starts, 2);
}

TEST_F(PtpDiscovery, StartFailures) {
    core.startResult = false;
    PtpiDiscovery* p = Make();
    EXPECT_EQ(p->ops->Start(p, kPtpEnumAsync), static_cast<HRESULT>(0x80004005u));
    EXPECT_EQ(Jorvale::DnsSdCoreUses(), 0u);

    core.startResult = true;
    core.failClients = true;
    EXPECT_EQ(p->ops->Start(p, kPtpEnumAsync), static_cast<HRESULT>(0x80004005u));
    EXPECT_EQ(Jorvale::DnsSdCoreUses(), 1u);

    core.failClients = false;
    core.browseError = -65563;  // a DNS-SD error number
    EXPECT_EQ(p->ops->Start(p, kPtpEnumAsync), static_cast<HRESULT>(0x8006001Au));
    core.browseError = -65537;
    EXPECT_EQ(p->ops->Start(p, kPtpEnumAsync), static_cast<HRESULT>(0x80060000u));
    EXPECT_EQ(core.liveClients, 0);

    // Once the browse goes, browsing starts for real.
    core.browseError = 0;
    EXPECT_EQ(p->ops->Start(p, kPtpEnumAsync), 0);
    EXPECT_EQ(core.liveClients, 1);
}

TEST_F(PtpDiscovery, SynchronousStartWaitsOnTheClock) {
    auto clock = std::make_shared<Platform::ManualClock>();
    Platform::ScopedClock scoped(clock);
    core.onBrowse = [](DnsSdEvents& e) { e.Resolved("Early", {10, 0, 0, 9}, 9, Txt({"VER=1"})); };
    PtpiDiscovery* p = Make();
    auto before = clock->Now();
    EXPECT_EQ(p->ops->Start(p, 0), 0);
    EXPECT_GE(clock->Now() - before, 1500ms);
    EXPECT_EQ(recorder.Take().size(), 1u);

    // Already browsing: no second wait.
    before = clock->Now();
    EXPECT_EQ(p->ops->Start(p, 0), 0);
    EXPECT_EQ(clock->Now(), before);
    PtpiDiscovery* async = Make();
    EXPECT_EQ(async->ops->Start(async, kPtpEnumAsync), 0);
    EXPECT_EQ(clock->Now(), before);
}

TEST(PtpDiscoveryCreate, NeedsAnOutAndAReport) {
    std::recursive_mutex lock;
    PtpiDiscovery* p = reinterpret_cast<PtpiDiscovery*>(1);
    EXPECT_EQ(Jorvale::CreateDiscovery(nullptr, nullptr, lock, &p), static_cast<HRESULT>(0x80070057u));
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(Jorvale::CreateDiscovery(nullptr, &Recorder::Record, lock, nullptr), static_cast<HRESULT>(0x80070057u));
}

// --- Through the transport -----------------------------------------------------

struct Seen {
    std::mutex mutex;
    std::vector<std::u16string> reports;  // "url present name"
    static void Callback(void* context, LPCWSTR url, const PtpDeviceInfo* info) {
        auto* self = static_cast<Seen*>(context);
        std::lock_guard guard(self->mutex);
        self->reports.push_back(std::u16string(url) + (info->present ? u" + " : u" - ") + info->name);
    }
    std::vector<std::u16string> Take() {
        std::lock_guard guard(mutex);
        return std::exchange(reports, {});
    }
};

class PtpDiscoveryEnumeration : public ::testing::Test {
protected:
    void SetUp() override { Jorvale::SetDnsSdCore(&core); }
    void TearDown() override {
        EXPECT_EQ(Jorvale::DnsSdCoreUses(), 0u);
        EXPECT_EQ(core.liveClients, 0);
        Jorvale::SetDnsSdCore(nullptr);
    }
    Platform::ScopedFreshMachine machine;
    FakeCore core;
    Seen seen;
};

TEST_F(PtpDiscoveryEnumeration, SynchronousReportsEachDeviceOnceAfterTheWait) {
    auto clock = std::make_shared<Platform::ManualClock>();
    Platform::ScopedClock scoped(clock);
    core.onBrowse = [](DnsSdEvents& e) {
        e.Resolved("A", {10, 0, 0, 1}, 15740, Txt({"VER=1"}));
        e.Resolved("A", {10, 0, 0, 1}, 15740, Txt({"VER=1"}));
        e.Resolved("B", {10, 0, 0, 2}, 15740, Txt({"VER=1"}));
    };
    PtpiTransport* t = nullptr;
    ASSERT_EQ(PtpiCreateTransport(&t), 0);
    const auto before = clock->Now();
    EXPECT_EQ(t->ops->Enumerate(t, 0, &Seen::Callback, &seen), 0);
    EXPECT_GE(clock->Now() - before, 1500ms);
    EXPECT_EQ(seen.Take(), (std::vector<std::u16string>{u"ptp://10.0.0.1:15740/ + A", u"ptp://10.0.0.2:15740/ + B"}));
    // No callback is kept: later answers reach nobody.
    core.events->Removed("A");
    EXPECT_TRUE(seen.Take().empty());
    EXPECT_EQ(Jorvale::DnsSdCoreUses(), 1u);
    t->ops->Release(t);
    EXPECT_EQ(core.shutdowns, 1);
}

TEST_F(PtpDiscoveryEnumeration, AsynchronousDeliversChangesUntilStopped) {
    PtpiTransport* t = nullptr;
    ASSERT_EQ(PtpiCreateTransport(&t), 0);
    EXPECT_EQ(t->ops->Enumerate(t, 2, &Seen::Callback, &seen), static_cast<HRESULT>(0x80070057u));
    EXPECT_EQ(core.starts, 0);
    ASSERT_EQ(t->ops->Enumerate(t, kPtpEnumAsync, &Seen::Callback, &seen), 0);
    DnsSdEvents* events = core.events;
    std::thread engine([&] {
        events->Resolved("A", {10, 0, 0, 1}, 1, Txt({"VER=1"}));
        events->Resolved("A", {10, 0, 0, 1}, 1, Txt({"VER=2"}));
        events->Removed("A");
    });
    engine.join();
    EXPECT_EQ(seen.Take(), (std::vector<std::u16string>{u"ptp://10.0.0.1:1/ + A", u"ptp://10.0.0.1:1/ - A",
                                                        u"ptp://10.0.0.1:1/ + A", u"ptp://10.0.0.1:1/ - A"}));
    ASSERT_EQ(t->ops->Enumerate(t, 0, nullptr, nullptr), 0);
    core.events->Resolved("B", {10, 0, 0, 2}, 1, Txt({"VER=1"}));
    EXPECT_TRUE(seen.Take().empty());
    t->ops->Release(t);
}

TEST_F(PtpDiscoveryEnumeration, ATransportThatNeverEnumeratesLeavesTheCoreAlone) {
    for (int i = 0; i < 3; ++i) {
        PtpiTransport* t = nullptr;
        ASSERT_EQ(PtpiCreateTransport(&t), 0);
        t->ops->Release(t);
    }
    EXPECT_EQ(core.starts, 0);
    EXPECT_EQ(Jorvale::DnsSdCoreUses(), 0u);
    // So a later enumeration still starts it.
    PtpiTransport* t = nullptr;
    ASSERT_EQ(PtpiCreateTransport(&t), 0);
    ASSERT_EQ(t->ops->Enumerate(t, kPtpEnumAsync, &Seen::Callback, &seen), 0);
    EXPECT_EQ(core.starts, 1);
    t->ops->Release(t);
}

// --- Threads -----------------------------------------------------------------------

class ThreadPtpDiscovery : public PtpDiscovery {};

TEST_F(ThreadPtpDiscovery, AnswersWhileTheClientReportsAll) {
    PtpiDiscovery* p = Started();
    DnsSdEvents* events = core.events;
    std::atomic<bool> done{false};
    std::thread engine([&] {
        for (int i = 0; i < 300; ++i) {
            const std::string name = "S" + std::to_string(i % 10);
            events->Resolved(name, {10, 0, 0, static_cast<std::uint8_t>(i % 7)}, 1, Txt({"VER=1"}));
            if (i % 3 == 0) events->Removed(name);
        }
        done = true;
    });
    while (!done) p->ops->ReportAll(p);
    engine.join();
    // Every present report of a name is balanced by the list: a final
    // ReportAll shows the names still present once each.
    recorder.Take();
    p->ops->ReportAll(p);
    auto reports = recorder.Take();
    std::set<std::u16string> names;
    for (const auto& r : reports) EXPECT_TRUE(names.insert(r.name).second);
}

}  // namespace
