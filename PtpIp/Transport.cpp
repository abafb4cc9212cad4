#include "TransportDiscovery.h"

#include <atomic>

namespace Jorvale {
namespace {

std::atomic<DiscoveryFactory> g_discoveryFactory{nullptr};

}  // namespace

void SetDiscoveryFactory(DiscoveryFactory factory) {
    g_discoveryFactory = factory;
}

}  // namespace Jorvale
