#include "RodizuzUzezProperties.h"

#include "Platform/Machine.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class QueueProperties : public ::testing::Test {
protected:
    Platform::PrintSpooler& Spooler() { return Platform::GetMachine().Spooler(); }

    bool IsNetworkPort(std::u16string_view port) {
        Spooler().RemovePrinter(u"Velmo HV7300");
        Spooler().AddPrinter(u"Velmo HV7300", port, u"Velmo HV7300 Driver");
        RodizuzUzezProperties queue(u"Velmo HV7300");
        return queue.IsNetworkPort();
    }

    Platform::ScopedFreshMachine machine_;
};

TEST_F(QueueProperties, PortNameDecides) {
    EXPECT_FALSE(IsNetworkPort(u"USB001"));
    EXPECT_FALSE(IsNetworkPort(u"USB"));
    EXPECT_TRUE(IsNetworkPort(u"usb001"));  // the test is case-sensitive
    EXPECT_TRUE(IsNetworkPort(u"Usb001"));
    EXPECT_TRUE(IsNetworkPort(u"IP_1.2.3.4"));
    EXPECT_TRUE(IsNetworkPort(u"LPT1:"));
    EXPECT_TRUE(IsNetworkPort(u"US"));
    EXPECT_TRUE(IsNetworkPort(u""));
    // The port is read into 2048 bytes: a name that fits with its zero is
    // read, a longer one cannot be and counts as not networked.
    EXPECT_TRUE(IsNetworkPort(u"IP_" + std::u16string(1020, u'9')));
    EXPECT_FALSE(IsNetworkPort(u"IP_" + std::u16string(1021, u'9')));
    EXPECT_FALSE(IsNetworkPort(u"USB" + std::u16string(1020, u'9')));
    EXPECT_EQ(Spooler().OpenPrinterHandleCount(), 0u);
}

TEST_F(QueueProperties, OrdinaryUserSeesTheNetworkPort) {
    Spooler().AddPrinter(u"Velmo HV7300 (network)", u"IP_192.168.1.20", u"Velmo HV7300 Driver");
    Platform::GetMachine().SetUserIsAdministrator(false);
    {
        RodizuzUzezProperties queue(u"Velmo HV7300 (network)");
        EXPECT_TRUE(queue.IsNetworkPort());
        EXPECT_EQ(Spooler().OpenPrinterHandleCount(), 1u);
    }
    EXPECT_EQ(Spooler().OpenPrinterHandleCount(), 0u);
}

TEST_F(QueueProperties, QueueThatDoesNotOpenIsNotNetworkedAndClosesNothing) {
    Spooler().AddPrinter(u"Other", u"IP_10.0.0.1", u"Driver");
    HANDLE other = nullptr;
    ASSERT_TRUE(OpenPrinterW(u"Other", &other, nullptr));
    {
        RodizuzUzezProperties queue(u"No such queue");
        EXPECT_FALSE(queue.IsNetworkPort());
        EXPECT_EQ(queue.Open(nullptr), FALSE);
        EXPECT_FALSE(queue.IsNetworkPort());
    }
    EXPECT_EQ(Spooler().OpenPrinterHandleCount(), 1u);
    EXPECT_TRUE(ClosePrinter(other));
}

TEST_F(QueueProperties, HandleIsClosedOnceAndReopeningDoesNotLeak) {
    Spooler().AddPrinter(u"A", u"USB001", u"Driver");
    Spooler().AddPrinter(u"B", u"IP_10.0.0.2", u"Driver");
    {
        RodizuzUzezProperties queue(u"A");
        EXPECT_FALSE(queue.IsNetworkPort());
        EXPECT_EQ(queue.Open(u"B"), TRUE);
        EXPECT_TRUE(queue.IsNetworkPort());
        EXPECT_EQ(Spooler().OpenPrinterHandleCount(), 1u);
        // The queue goes away while open: its port can no longer be read.
        Spooler().RemovePrinter(u"B");
        EXPECT_FALSE(queue.IsNetworkPort());
    }
    EXPECT_EQ(Spooler().OpenPrinterHandleCount(), 0u);
}

}  // namespace
