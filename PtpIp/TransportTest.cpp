// The transport object and the plain exports: the initiator identity from
// the registry, reference counting of the process-wide transport, the
// enumeration hooks with a stand-in discovery provider, loading the library
// at run time.
#include "Device.h"
#include "Identity.h"
#include "TestPeer.h"
#include "Transport.h"

#include "Platform/Machine.h"
#include "Platform/Registry.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <future>

namespace {

using namespace Jorvale;
using namespace std::chrono_literals;

// A discovery provider that records what the transport asks of it.
struct StubProvider : PtpiDiscovery {
    std::atomic<ULONG> references{1};
    PtpiTransport* transport = nullptr;
    ReportFunction report = nullptr;
    std::mutex mutex;  // concurrent enumerations record calls at once
    std::vector<std::string> calls;
    HRESULT startResult = kOk;
    void Note(std::string call) {
        std::lock_guard lock(mutex);
        calls.push_back(std::move(call));
    }
};

StubProvider* g_stub = nullptr;
std::atomic<int> g_stubsAlive{0};
HRESULT g_nextFactoryResult = kOk;

const PtpiDiscoveryOps kStubOps = {
    [](PtpiDiscovery* self) -> ULONG { return ++static_cast<StubProvider*>(self)->references; },
    [](PtpiDiscovery* self) -> ULONG {
        auto* p = static_cast<StubProvider*>(self);
        const ULONG left = --p->references;
        if (left == 0) {
            if (g_stub == p) g_stub = nullptr;
            --g_stubsAlive;
            delete p;
        }
        return left;
    },
    [](PtpiDiscovery* self, DWORD flags) -> HRESULT {
        auto* p = static_cast<StubProvider*>(self);
        p->Note("Start " + std::to_string(flags));
        return p->startResult;
    },
    [](PtpiDiscovery* self) -> HRESULT {
        static_cast<StubProvider*>(self)->Note("Stop");
        return kOk;
    },
    [](PtpiDiscovery* self) -> HRESULT {
        auto* p = static_cast<StubProvider*>(self);
        p->Note("ReportAll");
        PtpDeviceInfo info{sizeof(PtpDeviceInfo), 1, u"Dock", u"{AB}", u"PTPIP", u"00003B7D", u"00000001", 0, 0, 2};
        p->report(p->transport, u"ptp://10.0.0.2:15740/", &info);
        return kOk;
    },
    [](PtpiDiscovery* self) -> HRESULT {
        static_cast<StubProvider*>(self)->Note("Refresh");
        return kOk;
    },
};

HRESULT StubFactory(PtpiTransport* transport, ReportFunction report, std::recursive_mutex&, PtpiDiscovery** out) {
    if (g_nextFactoryResult != kOk) return g_nextFactoryResult;
    auto* p = new StubProvider;
    p->ops = &kStubOps;
    p->transport = transport;
    p->report = report;
    g_stub = p;
    ++g_stubsAlive;
    *out = p;
    return kOk;
}

class TransportFixture : public ::testing::Test {
protected:
    void SetUp() override {
        SetDiscoveryFactory(&StubFactory);
        g_nextFactoryResult = kOk;
    }
    void TearDown() override {
        SetDiscoveryFactory(nullptr);
        EXPECT_EQ(Transport::LiveCount(), 0u);
        EXPECT_EQ(Transport::SocketUsers(), 0);
        EXPECT_EQ(g_stubsAlive, 0);
    }
    Platform::ScopedFreshMachine machine_;
};

std::u16string HostName() {
    char name[HOST_NAME_MAX + 1] = {};
    gethostname(name, sizeof name - 1);
    return std::u16string(name, name + std::strlen(name));
}

Initiator IdentityOfNewTransport() {
    PtpiTransport* t = nullptr;
    EXPECT_EQ(PtpiCreateTransport(&t), kOk);
    Initiator id = static_cast<Transport*>(t)->Identity();
    t->ops->Release(t);
    return id;
}

auto& Registry() {
    return Platform::GetMachine().Registry();
}

// --- Identity -----------------------------------------------------------------

using TransportIdentity = TransportFixture;

TEST_F(TransportIdentity, AGuidIsMadeOnceAndKept) {
    const Initiator first = IdentityOfNewTransport();
    EXPECT_EQ(first.name, HostName());
    const auto stored = Registry().GetValue(HKEY_LOCAL_MACHINE, kParametersKey, u"DeviceGUID");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->type, REG_BINARY);
    EXPECT_EQ(stored->data, std::vector<BYTE>(first.guid.begin(), first.guid.end()));
    EXPECT_EQ((first.guid[7] & 0xF0), 0x40);
    EXPECT_EQ(IdentityOfNewTransport().guid, first.guid);

    Registry().SetString(HKEY_LOCAL_MACHINE, kParametersKey, u"DeviceName", u"B\u00FCro Dock");
    EXPECT_EQ(IdentityOfNewTransport().name, u"B\u00FCro Dock");
}

TEST_F(TransportIdentity, WithoutWriteAccessEachTransportHasAFreshGuid) {
    Platform::GetMachine().SetUserIsAdministrator(false);
    const Initiator a = IdentityOfNewTransport();
    const Initiator b = IdentityOfNewTransport();
    EXPECT_EQ(a.name, HostName());
    EXPECT_NE(a.guid, b.guid);
    EXPECT_FALSE(Registry().KeyExists(HKEY_LOCAL_MACHINE, kParametersKey));

    // A key written by an administrator is still read.
    Registry().SetString(HKEY_LOCAL_MACHINE, kParametersKey, u"DeviceName", u"Front Desk");
    std::vector<BYTE> guid(16, 0x11);
    Registry().SetValue(HKEY_LOCAL_MACHINE, kParametersKey, u"DeviceGUID", Platform::RegValue::Binary(guid));
    const Initiator c = IdentityOfNewTransport();
    EXPECT_EQ(c.name, u"Front Desk");
    EXPECT_EQ(std::vector<BYTE>(c.guid.begin(), c.guid.end()), guid);
}

TEST_F(TransportIdentity, UnusableValuesAreReplaced) {
    Registry().SetValue(HKEY_LOCAL_MACHINE, kParametersKey, u"DeviceGUID",
                        Platform::RegValue::Binary(std::vector<BYTE>(15, 0x22)));
    // Longer than the 200-byte name buffer in its 8-bit form.
    Registry().SetString(HKEY_LOCAL_MACHINE, kParametersKey, u"DeviceName", std::u16string(100, u'\u00E9'));
    const Initiator id = IdentityOfNewTransport();
    EXPECT_EQ(id.name, HostName());
    const auto stored = Registry().GetValue(HKEY_LOCAL_MACHINE, kParametersKey, u"DeviceGUID");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->data.size(), 16u);
    EXPECT_EQ(stored->data, std::vector<BYTE>(id.guid.begin(), id.guid.end()));

    Registry().SetString(HKEY_LOCAL_MACHINE, kParametersKey, u"DeviceName", std::u16string(99, u'\u00E9'));
    EXPECT_EQ(IdentityOfNewTransport().name, std::u16string(99, u'\u00E9'));
}

// --- The transport object -------------------------------------------------------

using TransportObject = TransportFixture;

TEST_F(TransportObject, CreationFailuresLeaveNothingBehind) {
    EXPECT_EQ(PtpiCreateTransport(nullptr), kInvalidArgument);
    g_nextFactoryResult = kOutOfMemory;
    PtpiTransport* t = reinterpret_cast<PtpiTransport*>(0x1);
    EXPECT_EQ(PtpiCreateTransport(&t), kFail);
    EXPECT_EQ(t, nullptr);
    HANDLE enumeration = reinterpret_cast<HANDLE>(0x1);
    EXPECT_EQ(PtpCreateEnum(
                  1, [](void*, LPCWSTR, const PtpDeviceInfo*) {}, nullptr, &enumeration),
              kFail);
    EXPECT_EQ(enumeration, nullptr);
}

TEST_F(TransportObject, EnumerationHooks) {
    PtpiTransport* t = nullptr;
    ASSERT_EQ(PtpiCreateTransport(&t), kOk);
    StubProvider* provider = g_stub;
    std::vector<std::u16string> seen;
    auto callback = [](void* context, LPCWSTR url, const PtpDeviceInfo* info) {
        static_cast<std::vector<std::u16string>*>(context)->push_back(std::u16string(url) + u" " + info->name);
    };
    EXPECT_EQ(t->ops->Enumerate(t, 2, callback, &seen), kInvalidArgument);
    EXPECT_TRUE(provider->calls.empty());

    // Synchronous: each known device once, then nothing more.
    ASSERT_EQ(t->ops->Enumerate(t, 0, callback, &seen), kOk);
    EXPECT_EQ(provider->calls, (std::vector<std::string>{"Start 0", "ReportAll"}));
    EXPECT_EQ(seen, std::vector<std::u16string>{u"ptp://10.0.0.2:15740/ Dock"});
    PtpDeviceInfo later{sizeof(PtpDeviceInfo), 0, u"Late", u"", u"PTPIP", u"", u"", 0, 0, 0};
    provider->report(t, u"ptp://10.0.0.3:1/", &later);
    EXPECT_EQ(seen.size(), 1u);

    // Asynchronous: every later report until enumeration stops.
    ASSERT_EQ(t->ops->Enumerate(t, 3, callback, &seen), kOk);
    EXPECT_EQ(provider->calls.back(), "Start 3");
    provider->report(t, u"ptp://10.0.0.3:1/", &later);
    EXPECT_EQ(seen.back(), u"ptp://10.0.0.3:1/ Late");
    ASSERT_EQ(t->ops->Enumerate(t, 0, nullptr, nullptr), kOk);
    EXPECT_EQ(provider->calls.back(), "Stop");
    provider->report(t, u"ptp://10.0.0.3:1/", &later);
    EXPECT_EQ(seen.size(), 2u);

    provider->startResult = Jorvale::DnsSdResult(-65540);
    EXPECT_EQ(t->ops->Enumerate(t, 1, callback, &seen), static_cast<HRESULT>(0x80060003u));
    EXPECT_EQ(t->ops->Refresh(t), kOk);
    EXPECT_EQ(provider->calls.back(), "Refresh");
    EXPECT_EQ(t->ops->AddRef(t), 2u);
    EXPECT_EQ(t->ops->Release(t), 1u);
    EXPECT_EQ(t->ops->Release(t), 0u);
}

TEST_F(TransportObject, NullArgumentsAndHandles) {
    PtpiDevice* device = reinterpret_cast<PtpiDevice*>(0x1);
    EXPECT_EQ(PtpOpenDevice(nullptr, 0, &device), kInvalidArgument);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(PtpOpenDevice(u"ptp://127.0.0.1:1/", 0, nullptr), kInvalidArgument);
    EXPECT_EQ(PtpCreateEnum(0, nullptr, nullptr, nullptr), kInvalidArgument);
    for (auto op : {PtpWaitAck(nullptr, nullptr), PtpSendCmd(nullptr, nullptr), PtpGetRsp(nullptr, nullptr),
                    PtpGetEvt(nullptr, nullptr), PtpCancelGetEvt(nullptr), PtpCancelTransaction(nullptr, 0)})
        EXPECT_EQ(op, kInvalidArgument);

    // Closing nothing releases nothing, with or without a shared transport.
    EXPECT_EQ(PtpCloseEnum(nullptr), kFail);
    EXPECT_EQ(PtpCloseDevice(nullptr), kOk);
    HANDLE enumeration = nullptr;
    ASSERT_EQ(PtpCreateEnum(
                  1, [](void*, LPCWSTR, const PtpDeviceInfo*) {}, nullptr, &enumeration),
              kOk);
    ASSERT_NE(enumeration, nullptr);
    EXPECT_EQ(PtpCloseEnum(nullptr), kFail);
    EXPECT_EQ(PtpCloseDevice(nullptr), kOk);
    EXPECT_EQ(PtpCloseEnum(reinterpret_cast<HANDLE>(0x1234)), kFail);
    EXPECT_EQ(Transport::LiveCount(), 1u);
    EXPECT_EQ(PtpCloseEnum(enumeration), kOk);
    EXPECT_EQ(Transport::LiveCount(), 0u);
    EXPECT_EQ(PtpCloseEnum(enumeration), kFail);  // a stale token
}

TEST_F(TransportObject, ATransportMadeForAFailedCallIsReleased) {
    PtpiDevice* device = nullptr;
    EXPECT_EQ(PtpOpenDevice(u"ptp://not-an-address:80/", 0, &device), kFail);
    EXPECT_EQ(Transport::LiveCount(), 0u);
    HANDLE enumeration = nullptr;
    EXPECT_EQ(PtpCreateEnum(
                  2, [](void*, LPCWSTR, const PtpDeviceInfo*) {}, nullptr, &enumeration),
              kInvalidArgument);
    EXPECT_EQ(Transport::LiveCount(), 0u);

    // On a transport that already exists a failure takes no reference.
    ASSERT_EQ(PtpCreateEnum(
                  1, [](void*, LPCWSTR, const PtpDeviceInfo*) {}, nullptr, &enumeration),
              kOk);
    auto* shared = static_cast<Transport*>(static_cast<PtpiTransport*>(enumeration));
    EXPECT_EQ(PtpOpenDevice(u"ptp://127.0.0.1:0/", 0, &device), kFail);
    EXPECT_EQ(shared->References(), 1u);
    EXPECT_EQ(PtpCloseEnum(enumeration), kOk);
}

TEST_F(TransportObject, LoadsAtRunTimeAsTheSetupAssistantDoes) {
    void* library = dlopen("libJorvale.so", RTLD_NOW);
    ASSERT_NE(library, nullptr) << dlerror();
    auto create = reinterpret_cast<PtpiCreateTransportFn>(dlsym(library, "PtpiCreateTransport"));
    ASSERT_NE(create, nullptr);
    for (const char* name :
         {"PtpCreateEnum", "PtpCloseEnum", "PtpOpenDevice", "PtpCloseDevice", "PtpSendCmd", "PtpWriteData",
          "PtpWaitAck", "PtpReadData", "PtpGetRsp", "PtpCancelTransaction", "PtpGetEvt", "PtpCancelGetEvt"})
        EXPECT_NE(dlsym(library, name), nullptr) << name;
    PtpiTransport* t = nullptr;
    ASSERT_EQ(create(&t), kOk);
    PtpiDevice* device = reinterpret_cast<PtpiDevice*>(0x1);
    EXPECT_EQ(t->ops->OpenDevice(t, u"ptp://1.2.3.4/", 0, &device), kFail);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(t->ops->Release(t), 0u);
    dlclose(library);
}

// --- The plain exports with open devices --------------------------------------

class ThreadExports : public TransportFixture {
protected:
    PtpiDevice* Open() {
        auto peer = std::async(std::launch::async, [&] { return TestPeer::AcceptSession(listener_); });
        PtpiDevice* device = nullptr;
        EXPECT_EQ(PtpOpenDevice(listener_.Url().c_str(), 0, &device), kOk);
        sessions_.push_back(peer.get());
        return device;
    }
    TestPeer::Listener listener_;
    std::vector<TestPeer::Session> sessions_;
};

TEST_F(ThreadExports, TheSharedTransportIsFreedAtTheLastRelease) {
    HANDLE enumeration = nullptr;
    ASSERT_EQ(PtpCreateEnum(
                  1, [](void*, LPCWSTR, const PtpDeviceInfo*) {}, nullptr, &enumeration),
              kOk);
    PtpiDevice* first = Open();
    PtpiDevice* second = Open();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(Transport::LiveCount(), 1u);
    EXPECT_EQ(PtpCloseEnum(enumeration), kOk);
    EXPECT_EQ(PtpCloseDevice(first), kOk);
    EXPECT_EQ(Transport::LiveCount(), 1u);
    EXPECT_EQ(Device::LiveCount(), 1u);
    EXPECT_EQ(PtpCloseDevice(second), kOk);
    EXPECT_EQ(Transport::LiveCount(), 0u);
    EXPECT_EQ(Device::LiveCount(), 0u);
    for (auto& s : sessions_) {
        EXPECT_TRUE(s.command.WaitClosed());
        EXPECT_TRUE(s.event.WaitClosed());
    }

    // And in the other order, from a device first.
    PtpiDevice* device = Open();
    ASSERT_EQ(PtpCreateEnum(
                  1, [](void*, LPCWSTR, const PtpDeviceInfo*) {}, nullptr, &enumeration),
              kOk);
    EXPECT_EQ(PtpCloseDevice(device), kOk);
    EXPECT_EQ(Transport::LiveCount(), 1u);
    EXPECT_EQ(PtpCloseEnum(enumeration), kOk);
    EXPECT_EQ(Transport::LiveCount(), 0u);
}

TEST_F(ThreadExports, ConcurrentFirstUsesShareOneTransport) {
    std::vector<std::future<HANDLE>> users;
    for (int i = 0; i < 8; ++i)
        users.push_back(std::async(std::launch::async, [] {
            HANDLE h = nullptr;
            EXPECT_EQ(PtpCreateEnum(
                          1, [](void*, LPCWSTR, const PtpDeviceInfo*) {}, nullptr, &h),
                      kOk);
            return h;
        }));
    std::vector<HANDLE> handles;
    for (auto& u : users) handles.push_back(u.get());
    EXPECT_EQ(Transport::LiveCount(), 1u);
    for (HANDLE h : handles) EXPECT_EQ(h, handles.front());
    for (HANDLE h : handles) EXPECT_EQ(PtpCloseEnum(h), kOk);
    EXPECT_EQ(Transport::LiveCount(), 0u);
}

}  // namespace
