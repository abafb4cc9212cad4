#include "PtpTransport.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

// The recording library's controls, reached as a program would reach it.
struct TestLibrary {
    TestLibrary() {
        EXPECT_NE(module, nullptr);
        configure =
            reinterpret_cast<void (*)(HRESULT, HRESULT, HRESULT)>(GetProcAddress(module, "TestTransportConfigure"));
        log = reinterpret_cast<const char* (*)()>(GetProcAddress(module, "TestTransportLog"));
        live = reinterpret_cast<int (*)()>(GetProcAddress(module, "TestTransportLiveObjects"));
        configure(0, 0, 0);
    }
    ~TestLibrary() { FreeLibrary(module); }
    TestLibrary(const TestLibrary&) = delete;
    TestLibrary& operator=(const TestLibrary&) = delete;

    HMODULE module = LoadLibraryA("PtpTestTransport.dll");
    void (*configure)(HRESULT, HRESULT, HRESULT);
    const char* (*log)();
    int (*live)();
};

HRESULT Hr(std::uint32_t value) {
    return static_cast<HRESULT>(value);
}

}  // namespace

TEST(PtpTransport, MapsEveryLibraryResult) {
    const std::pair<std::uint32_t, int> rows[] = {{0, 0},
                                                  {0x80070057u, -1},
                                                  {0x80070008u, -2},
                                                  {0x80070005u, -52},
                                                  {0x80070001u, -53},
                                                  {0x800703E3u, -51},
                                                  {0x80070037u, -100},
                                                  {0x8007045Du, -109},
                                                  {0x80000005u, -110},
                                                  {0x800700AAu, -111},
                                                  {0x8000000Au, -112},
                                                  {0x80004005u, -3},
                                                  {1, -3},
                                                  {0x8007000Eu, -3}};
    for (const auto& [hr, code] : rows) EXPECT_EQ(PtpResultCode(Hr(hr)), code) << std::hex << hr;
}

TEST(PtpTransport, MissingLibraryOrExportAndNullArgumentsFail) {
    PtpTransportTable* table = nullptr;
    EXPECT_EQ(CreatePtpTransportFrom("PtpNoSuchTransport.dll", &table), -3);
    EXPECT_EQ(CreatePtpTransportFrom("PtpTestNoExport.dll", &table), -3);
    EXPECT_EQ(table, nullptr);
    EXPECT_EQ(CreatePtpTransport(u"x", 0, nullptr), -1);
    EXPECT_EQ(DestroyPtpTransport(nullptr), -1);
    PtpTransportTable empty{};
    EXPECT_EQ(DestroyPtpTransport(&empty), -1);
}

TEST(PtpTransport, CreationFailureIsMappedAndLeavesNothing) {
    TestLibrary lib;
    lib.configure(Hr(0x80070008u), 0, 0);
    PtpTransportTable* table = nullptr;
    EXPECT_EQ(CreatePtpTransportFrom("PtpTestTransport.dll", &table), -2);
    EXPECT_EQ(table, nullptr);
    EXPECT_EQ(lib.live(), 0);
}

TEST(PtpTransport, DiscoveryEntriesAreNotOffered) {
    TestLibrary lib;
    PtpTransportTable* table = nullptr;
    ASSERT_EQ(CreatePtpTransportFrom("PtpTestTransport.dll", &table), 0);
    EXPECT_EQ(table->enumerate(table->context, nullptr, nullptr), -4);
    EXPECT_EQ(table->stop(table->context), -4);
    EXPECT_EQ(table->third(nullptr, nullptr), -4);
    EXPECT_EQ(std::string(lib.log()), "create;");  // nothing reached the library
    EXPECT_EQ(DestroyPtpTransport(table), 0);
    EXPECT_EQ(lib.live(), 0);
}

TEST(PtpTransport, OpensUsesAndClosesADevice) {
    TestLibrary lib;
    PtpTransportTable* table = nullptr;
    ASSERT_EQ(CreatePtpTransportFrom("PtpTestTransport.dll", &table), 0);
    PtpDeviceTable* device = nullptr;
    EXPECT_EQ(table->openDevice(table->context, nullptr, &device), -1);
    EXPECT_EQ(table->openDevice(table->context, u"ptp://dock:15740", nullptr), -1);
    ASSERT_EQ(table->openDevice(table->context, u"ptp://dock:15740", &device), 0);

    PtpCommand command{0x1001, 0, 0, 2, {3, 0, 0, 0, 8}};
    EXPECT_EQ(device->sendCommand(device, &command), 0);
    EXPECT_EQ(command.transactionId, 77u);
    DWORD length = 12;
    EXPECT_EQ(device->writeData(device, "abc", &length), 0);
    EXPECT_EQ(device->readData(device, nullptr, &length), 0);
    EXPECT_EQ(device->waitAck(device, &length), 0);
    PtpResponse response{};
    EXPECT_EQ(device->getResponse(device, &response), 0);
    EXPECT_EQ(response.responseCode, 0x2001);
    EXPECT_EQ(response.parameters[0], 5u);
    EXPECT_EQ(device->cancelTransaction(device, 77), 0);
    PtpEvent event{};
    EXPECT_EQ(device->getEvent(device, &event), 0);
    EXPECT_EQ(event.parameters[2], 9u);
    EXPECT_EQ(device->cancelGetEvent(device), 0);
    int probe = 0;
    EXPECT_EQ(device->reserved(nullptr, &probe), -1);
    EXPECT_EQ(device->reserved(&probe, nullptr), -1);
    EXPECT_EQ(device->reserved(&probe, &probe), -4);
    EXPECT_EQ(device->sendCommand(device, nullptr), -1);

    lib.configure(0, 0, Hr(0x80070037u));
    EXPECT_EQ(device->waitAck(device, &length), -100);
    EXPECT_EQ(table->closeDevice(device), 0);
    EXPECT_EQ(table->closeDevice(nullptr), -1);
    EXPECT_EQ(std::string(lib.log()), "wait ack;release device;");
    EXPECT_EQ(DestroyPtpTransport(table), 0);
    EXPECT_EQ(lib.live(), 0);
}

TEST(PtpTransport, FailedOpenFreesTheDeviceTable) {
    TestLibrary lib;
    PtpTransportTable* table = nullptr;
    ASSERT_EQ(CreatePtpTransportFrom("PtpTestTransport.dll", &table), 0);
    lib.configure(0, Hr(0x80070005u), 0);
    PtpDeviceTable* device = nullptr;
    EXPECT_EQ(table->openDevice(table->context, u"ptp://dock:1", &device), -52);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(std::string(lib.log()), "open ptp://dock:1 0;");
    EXPECT_EQ(DestroyPtpTransport(table), 0);
    EXPECT_EQ(lib.live(), 0);
}

TEST(PtpTransport, LoadsTheTransportLibrary) {
    PtpTransportTable* table = nullptr;
    ASSERT_EQ(CreatePtpTransport(u"ignored", 7, &table), 0);
    ASSERT_NE(table->context->transport, nullptr);
    EXPECT_EQ(table->enumerate(table->context, nullptr, nullptr), -4);
    EXPECT_EQ(DestroyPtpTransport(table), 0);
}
