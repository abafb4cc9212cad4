#include "DeviceState.h"

#include "Platform/Kernel.h"

#include <algorithm>
#include <set>
#include <stdexcept>

namespace Platform {
namespace detail {

std::u16string Ascii(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

std::u16string ToLowerAscii(std::u16string text) {
    for (auto& c : text)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    return text;
}

bool EqualsNoCase(const std::u16string& a, const std::u16string& b) {
    return ToLowerAscii(a) == ToLowerAscii(b);
}

std::u16string Hex(unsigned value, int digits) {
    static const char16_t kDigits[] = u"0123456789ABCDEF";
    std::u16string out;
    do {
        out.insert(out.begin(), kDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0 || static_cast<int>(out.size()) < digits);
    return out;
}

std::shared_ptr<Node> DeviceState::Find(DEVINST devinst) const {
    auto it = nodes.find(devinst);
    return it == nodes.end() ? nullptr : it->second;
}

std::shared_ptr<Node> DeviceState::FindByInstanceId(const std::u16string& instanceId) const {
    for (const auto& [devinst, node] : nodes)
        if (EqualsNoCase(node->instanceId, instanceId)) return node;
    return nullptr;
}

std::shared_ptr<Node> DeviceState::FindInterface(const std::u16string& link, const DeviceInterface** found) const {
    const auto wanted = ToLowerAscii(link);
    for (const auto& [devinst, node] : nodes) {
        for (const auto& itf : node->interfaces) {
            if (ToLowerAscii(itf.link) == wanted) {
                *found = &itf;
                return node;
            }
        }
    }
    return nullptr;
}

const CallFault* DeviceState::FaultOn(DeviceCall call) {
    for (auto& fault : callFaults) {
        if (fault.call != call || fault.times == 0) continue;
        if (fault.skip > 0) {
            --fault.skip;
            return nullptr;
        }
        if (fault.times != DeviceManager::kEveryCall) --fault.times;
        return &fault;
    }
    return nullptr;
}

DeviceInfoList* DeviceState::FindList(HDEVINFO list) {
    auto it = lists.find(reinterpret_cast<std::uintptr_t>(list));
    return it == lists.end() ? nullptr : &it->second;
}

}  // namespace detail

using namespace detail;

namespace {

// What the machine needs to know of a device's descriptors to shape its
// nodes. Read defensively: the descriptors may be deliberately malformed.
struct DeviceShape {
    WORD vendorId = 0;
    WORD productId = 0;
    WORD bcdDevice = 0;
    BYTE deviceClass = 0;
    std::u16string serial;
    std::u16string product;
    std::vector<BYTE> interfaceNumbers;  // distinct, in order of appearance
    int printerInterface = -1;
};

std::u16string StringOf(const UsbDescriptorSet& set, BYTE index) {
    if (index == 0) return {};
    auto it = set.strings.find(index);
    if (it == set.strings.end() || it->second.size() < 2) return {};
    const auto& raw = it->second;
    const std::size_t length = std::min<std::size_t>(raw[0], raw.size());
    std::u16string text;
    for (std::size_t i = 2; i + 1 < length; i += 2) text.push_back(static_cast<char16_t>(raw[i] | (raw[i + 1] << 8)));
    return text;
}

DeviceShape ShapeOf(const UsbDescriptorSet& set) {
    DeviceShape shape;
    const auto& d = set.device;
    if (d.size() >= 18) {
        shape.deviceClass = d[4];
        shape.vendorId = static_cast<WORD>(d[8] | (d[9] << 8));
        shape.productId = static_cast<WORD>(d[10] | (d[11] << 8));
        shape.bcdDevice = static_cast<WORD>(d[12] | (d[13] << 8));
        shape.product = StringOf(set, d[15]);
        shape.serial = StringOf(set, d[16]);
    }
    const std::vector<BYTE>* config = nullptr;
    for (const auto& c : set.configurations)
        if (c.size() >= 9 && c[1] == USB_CONFIGURATION_DESCRIPTOR_TYPE && c[5] == set.currentConfiguration) config = &c;
    if (config == nullptr) return shape;
    const auto& c = *config;
    const std::size_t limit = std::min<std::size_t>(c.size(), c[2] | (c[3] << 8));
    for (std::size_t off = std::max<std::size_t>(c[0], 9); off + 2 <= limit;) {
        const std::size_t length = c[off];
        if (length < 2 || off + length > limit) break;
        if (c[off + 1] == USB_INTERFACE_DESCRIPTOR_TYPE && length >= 9) {
            const BYTE number = c[off + 2];
            if (std::find(shape.interfaceNumbers.begin(), shape.interfaceNumbers.end(), number) ==
                shape.interfaceNumbers.end())
                shape.interfaceNumbers.push_back(number);
            if (c[off + 5] == USB_DEVICE_CLASS_PRINTER && shape.printerInterface < 0) shape.printerInterface = number;
        }
        off += length;
    }
    return shape;
}

// The platform takes a serial number into the instance id only when it is
// plain printable ASCII without commas.
bool UsableSerial(const std::u16string& serial) {
    if (serial.empty() || serial.size() > 126) return false;
    return std::all_of(serial.begin(), serial.end(), [](char16_t c) { return c > 0x20 && c < 0x7F && c != u','; });
}

std::u16string UsbDeviceId(WORD vendorId, WORD productId) {
    return u"USB\\VID_" + Hex(vendorId, 4) + u"&PID_" + Hex(productId, 4);
}

std::u16string LinkOf(const std::u16string& instanceId, const GUID& interfaceClass) {
    std::u16string link = instanceId;
    std::replace(link.begin(), link.end(), u'\\', u'#');
    return link + u"#" + GuidToString(interfaceClass);
}

// A name for the printer node's id: letters and digits of the product text.
std::u16string PrinterModelName(const std::u16string& product) {
    std::u16string name;
    for (char16_t c : product) {
        if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9'))
            name.push_back(c);
        else if (c == u' ' || c == u'-' || c == u'_')
            name.push_back(u'_');
        if (name.size() >= 40) break;
    }
    return name.empty() ? u"Printer" : name;
}

std::vector<BYTE> MakeHubDescriptorsDevice(WORD vendorId, WORD productId) {
    return {18,
            USB_DEVICE_DESCRIPTOR_TYPE,
            0x00,
            0x02,
            USB_DEVICE_CLASS_HUB,
            0,
            1,
            64,
            static_cast<BYTE>(vendorId),
            static_cast<BYTE>(vendorId >> 8),
            static_cast<BYTE>(productId),
            static_cast<BYTE>(productId >> 8),
            0x00,
            0x01,
            0,
            0,
            0,
            1};
}

UsbDescriptorSet MakeHubDescriptors(WORD vendorId, WORD productId) {
    UsbDescriptorSet set;
    set.device = MakeHubDescriptorsDevice(vendorId, productId);
    set.configurations.push_back({9,
                                  USB_CONFIGURATION_DESCRIPTOR_TYPE,
                                  25,
                                  0,
                                  1,
                                  1,
                                  0,
                                  0xE0,
                                  0,
                                  9,
                                  USB_INTERFACE_DESCRIPTOR_TYPE,
                                  0,
                                  0,
                                  1,
                                  USB_DEVICE_CLASS_HUB,
                                  0,
                                  0,
                                  0,
                                  7,
                                  USB_ENDPOINT_DESCRIPTOR_TYPE,
                                  0x81,
                                  0x03,
                                  1,
                                  0,
                                  12});
    return set;
}

}  // namespace

class DeviceTreeBuilder {
public:
    explicit DeviceTreeBuilder(DeviceState& s) : s_(s) {}

    // A node with that instance id under parent: the old one when the id was
    // seen before (it keeps its devinst and driver key), else a new one.
    std::shared_ptr<Node> NodeFor(const std::shared_ptr<Node>& parent, const std::u16string& instanceId,
                                  const GUID& setupClass) {
        auto node = s_.FindByInstanceId(instanceId);
        if (node) {
            if (auto old = node->parent.lock()) std::erase(old->children, node);
            node->present = true;
            node->attachment = std::make_shared<Attachment>();
            node->interfaces.clear();
            node->faults = {};
        } else {
            node = std::make_shared<Node>();
            node->devinst = s_.nextDevinst++;
            node->instanceId = instanceId;
            s_.nodes.emplace(node->devinst, node);
        }
        node->setupClass = setupClass;
        node->parent = parent;
        parent->children.push_back(node);
        return node;
    }

    void AssignDriverKey(Node& node) {
        if (!node.driverKey.empty()) return;
        const auto cls = GuidToString(node.setupClass);
        const unsigned n = s_.driverKeyCounters[cls]++;
        node.driverKey = cls + u"\\" + Decimal4(n);
    }

    void AddInterface(Node& node, const GUID& interfaceClass, Channel channel) {
        DeviceInterface itf;
        itf.classGuid = interfaceClass;
        itf.link = LinkOf(node.instanceId, interfaceClass);
        itf.id = s_.nextInterfaceId++;
        itf.channel = channel;
        node.interfaces.push_back(itf);
    }

    void AddPrinterNode(const std::shared_ptr<Node>& function, const DeviceShape& shape) {
        // A printer plugged in again keeps its printer port number.
        std::u16string instanceId;
        for (const auto& child : function->children)
            if (child->instanceId.starts_with(u"USBPRINT\\")) instanceId = child->instanceId;
        if (instanceId.empty())
            instanceId = u"USBPRINT\\" + PrinterModelName(shape.product) + u"\\7&" + Hex(function->devinst, 0) +
                         u"&0&USB" + Decimal3(++s_.printerPorts);
        auto printer = NodeFor(function, instanceId, GUID_DEVCLASS_PRINTER);
        printer->description = shape.product.empty() ? u"USB Printer" : shape.product;
        printer->model = function->model;
        AssignDriverKey(*printer);
    }

    static std::u16string Decimal4(unsigned n) { return Pad(n, 4); }
    static std::u16string Decimal3(unsigned n) { return Pad(n, 3); }

private:
    static std::u16string Pad(unsigned n, std::size_t width) {
        auto text = Ascii(std::to_string(n));
        while (text.size() < width) text.insert(text.begin(), u'0');
        return text;
    }

    DeviceState& s_;
};

namespace {

void MarkGone(Node& node, std::set<std::shared_ptr<UsbDeviceModel>>& models) {
    node.present = false;
    node.attachment->connected = false;
    if (node.model) models.insert(node.model);
    for (auto& port : node.ports) {
        port.device.reset();
        port.status = NoDeviceConnected;
    }
    for (auto& child : node.children) MarkGone(*child, models);
}

Port& PortOf(DeviceState& s, DEVINST hub, unsigned port) {
    auto node = s.Find(hub);
    if (!node || !node->isHub || !node->present) throw std::invalid_argument("not a present hub");
    if (port < 1 || port > node->ports.size()) throw std::invalid_argument("no such port on the hub");
    return node->ports[port - 1];
}

}  // namespace

DeviceManager::DeviceManager() : state_(std::make_unique<DeviceState>()) {
    Reset();
}
DeviceManager::~DeviceManager() = default;

void DeviceManager::Reset() {
    std::set<std::shared_ptr<UsbDeviceModel>> models;
    {
        std::lock_guard lock(state_->mutex);
        auto& s = *state_;
        if (s.root) MarkGone(*s.root, models);
        for (auto& [devinst, node] : s.nodes) node->attachment->connected = false;
        s.nodes.clear();
        s.lists.clear();
        s.callFaults.clear();
        s.hubWalkHook = nullptr;
        s.driverKeyCounters.clear();
        s.nextDevinst = 1;
        s.controllers = 0;
        s.printerPorts = 0;
        s.nextAddress = 1;
        s.root = std::make_shared<Node>();
        s.root->devinst = s.nextDevinst++;
        s.root->instanceId = u"HTREE\\ROOT\\0";
        s.root->setupClass = GUID_DEVCLASS_SYSTEM;
        s.nodes.emplace(s.root->devinst, s.root);
    }
    for (auto& model : models) model->OnDetached();
}

HostControllerNodes DeviceManager::AddHostController(unsigned rootPorts) {
    if (rootPorts > 255) throw std::invalid_argument("a hub has at most 255 ports");
    std::lock_guard lock(state_->mutex);
    auto& s = *state_;
    DeviceTreeBuilder build(s);
    const unsigned n = s.controllers++;
    auto controller =
        build.NodeFor(s.root, u"PCI\\VEN_8086&DEV_" + Hex(0xA36D + n, 4) + u"\\3&11583659&0&" + Hex(0xA0 + 8 * n, 2),
                      GUID_DEVCLASS_USB);
    controller->description = u"USB eXtensible Host Controller";
    build.AssignDriverKey(*controller);
    build.AddInterface(*controller, GUID_DEVINTERFACE_USB_HOST_CONTROLLER, Channel::HostController);

    auto root = build.NodeFor(controller, u"USB\\ROOT_HUB30\\4&" + Hex(0x2A4F2B5 + controller->devinst, 0) + u"&0&0",
                              GUID_DEVCLASS_USB);
    root->description = u"USB Root Hub";
    root->isHub = true;
    root->ports.resize(rootPorts);
    build.AssignDriverKey(*root);
    build.AddInterface(*root, GUID_DEVINTERFACE_USB_HUB, Channel::Hub);
    return {controller->devinst, root->devinst};
}

DEVINST DeviceManager::AttachHub(DEVINST parentHub, unsigned port, unsigned ports, WORD vendorId, WORD productId) {
    if (ports > 255) throw std::invalid_argument("a hub has at most 255 ports");
    auto model = std::make_shared<UsbDeviceModel>(MakeHubDescriptors(vendorId, productId));
    std::lock_guard lock(state_->mutex);
    auto& s = *state_;
    auto& slot = PortOf(s, parentHub, port);
    if (slot.device) throw std::invalid_argument("the port is occupied");
    DeviceTreeBuilder build(s);
    auto hub = build.NodeFor(s.Find(parentHub),
                             UsbDeviceId(vendorId, productId) + u"\\5&" + Hex(0x1D2C3B4 + parentHub, 0) + u"&0&" +
                                 Ascii(std::to_string(port)),
                             GUID_DEVCLASS_USB);
    hub->description = u"Generic USB Hub";
    hub->isHub = true;
    hub->ports.assign(ports, Port{});
    hub->model = model;
    build.AssignDriverKey(*hub);
    build.AddInterface(*hub, GUID_DEVINTERFACE_USB_DEVICE, Channel::None);
    build.AddInterface(*hub, GUID_DEVINTERFACE_USB_HUB, Channel::Hub);
    slot.device = hub;
    slot.status = DeviceConnected;
    slot.lowSpeed = false;
    slot.address = s.nextAddress;
    s.nextAddress = static_cast<USHORT>(s.nextAddress % 127 + 1);
    return hub->devinst;
}

DEVINST DeviceManager::AttachDevice(DEVINST hub, unsigned port, std::shared_ptr<UsbDeviceModel> model,
                                    const UsbAttachOptions& options) {
    if (!model) throw std::invalid_argument("no device model");
    const DeviceShape shape = ShapeOf(model->Descriptors());
    if (shape.deviceClass == USB_DEVICE_CLASS_HUB) throw std::invalid_argument("attach hubs with AttachHub");
    DEVINST result;
    {
        std::lock_guard lock(state_->mutex);
        auto& s = *state_;
        auto& slot = PortOf(s, hub, port);
        if (slot.device) throw std::invalid_argument("the port is occupied");
        DeviceTreeBuilder build(s);
        const auto hubNode = s.Find(hub);

        const std::u16string deviceId = UsbDeviceId(shape.vendorId, shape.productId);
        std::u16string instanceId = deviceId + u"\\" + shape.serial;
        auto same = s.FindByInstanceId(instanceId);
        if (!UsableSerial(shape.serial) || (same && same->present))
            instanceId = deviceId + u"\\5&" + Hex(0x1D2C3B4 + hub, 0) + u"&0&" + Ascii(std::to_string(port));

        auto device = build.NodeFor(hubNode, instanceId, GUID_DEVCLASS_USB);
        device->model = model;
        device->hardwareIds = {deviceId + u"&REV_" + Hex(shape.bcdDevice, 4), deviceId};
        const bool composite =
            (shape.deviceClass == 0 || shape.deviceClass == 0xEF) && shape.interfaceNumbers.size() > 1;
        const bool printer = shape.printerInterface >= 0;
        device->description = composite ? u"USB Composite Device" : printer ? u"USB Printing Support" : u"USB Device";
        // Children from an earlier plugging-in come back only as the shape asks.
        for (auto& child : device->children) {
            std::set<std::shared_ptr<UsbDeviceModel>> ignored;
            MarkGone(*child, ignored);
        }
        if (!options.hasDriver) {
            device->driverKey.clear();
            build.AddInterface(*device, GUID_DEVINTERFACE_USB_DEVICE, Channel::None);
        } else if (composite) {
            build.AssignDriverKey(*device);
            build.AddInterface(*device, GUID_DEVINTERFACE_USB_DEVICE, Channel::None);
            for (BYTE number : shape.interfaceNumbers) {
                auto function = build.NodeFor(device,
                                              deviceId + u"&MI_" + Hex(number, 2) + u"\\6&" +
                                                  Hex(0x3B1A2C + device->devinst, 0) + u"&0&" + Hex(number, 4),
                                              GUID_DEVCLASS_USB);
                function->model = model;
                function->hardwareIds = {deviceId + u"&MI_" + Hex(number, 2)};
                function->description = number == shape.printerInterface ? u"USB Printing Support" : u"USB Device";
                build.AssignDriverKey(*function);
                if (number == shape.printerInterface) {
                    build.AddInterface(*function, GUID_DEVINTERFACE_USBPRINT, Channel::Printer);
                    build.AddPrinterNode(function, shape);
                }
            }
        } else {
            build.AssignDriverKey(*device);
            // The printing class driver owns the whole device: both of its
            // interfaces lead to the printer.
            build.AddInterface(*device, GUID_DEVINTERFACE_USB_DEVICE, printer ? Channel::Printer : Channel::None);
            if (printer) {
                build.AddInterface(*device, GUID_DEVINTERFACE_USBPRINT, Channel::Printer);
                build.AddPrinterNode(device, shape);
            }
        }
        slot.device = device;
        slot.status = options.status;
        slot.lowSpeed = options.lowSpeed;
        slot.address = s.nextAddress;
        s.nextAddress = static_cast<USHORT>(s.nextAddress % 127 + 1);
        result = device->devinst;
    }
    model->OnAttached();
    return result;
}

std::shared_ptr<UsbPrinterModel> DeviceManager::AttachUsbPrinter(DEVINST hub, unsigned port,
                                                                 const UsbPrinterIdentity& identity,
                                                                 const UsbAttachOptions& options) {
    auto model = std::make_shared<UsbPrinterModel>(identity);
    AttachDevice(hub, port, model, options);
    return model;
}

void DeviceManager::Detach(DEVINST hub, unsigned port) {
    std::set<std::shared_ptr<UsbDeviceModel>> models;
    {
        std::lock_guard lock(state_->mutex);
        auto& slot = PortOf(*state_, hub, port);
        if (slot.device) MarkGone(*slot.device, models);
        slot = Port{};
    }
    for (auto& model : models) model->OnDetached();
}

void DeviceManager::SetHubWalkHook(std::function<void()> hook) {
    std::lock_guard lock(state_->mutex);
    state_->hubWalkHook = std::move(hook);
}

void DeviceManager::FailIoctl(DEVINST node, DWORD code, DWORD error, unsigned afterCalls) {
    std::lock_guard lock(state_->mutex);
    auto target = state_->Find(node);
    if (!target) throw std::invalid_argument("no such device node");
    target->faults.ioctls.push_back({code, error, afterCalls});
}

void DeviceManager::FailCall(DeviceCall call, DWORD error, unsigned afterCalls, unsigned times) {
    std::lock_guard lock(state_->mutex);
    state_->callFaults.push_back({call, error, std::nullopt, afterCalls, times});
}

void DeviceManager::MisreportSize(DeviceCall call, DWORD size) {
    if (call != DeviceCall::SetupDiGetDeviceInterfaceDetail && call != DeviceCall::SetupDiGetDeviceRegistryProperty &&
        call != DeviceCall::SetupDiGetClassDescription && call != DeviceCall::SetupDiGetDriverInfoDetail &&
        call != DeviceCall::CM_Get_Device_ID_Size)
        throw std::invalid_argument("the call reports no size");
    std::lock_guard lock(state_->mutex);
    state_->callFaults.push_back({call, ERROR_SUCCESS, size, 0, kEveryCall});
}

void DeviceManager::FailOpen(DEVINST node, DWORD error) {
    std::lock_guard lock(state_->mutex);
    auto target = state_->Find(node);
    if (!target) throw std::invalid_argument("no such device node");
    target->faults.openError = error;
}

void DeviceManager::ReportNodeType(DEVINST hub, USB_HUB_NODE type) {
    std::lock_guard lock(state_->mutex);
    auto target = state_->Find(hub);
    if (!target || !target->isHub) throw std::invalid_argument("not a hub");
    target->faults.nodeType = type;
}

void DeviceManager::ClearFaults() {
    std::lock_guard lock(state_->mutex);
    for (auto& [devinst, node] : state_->nodes) node->faults = {};
    state_->callFaults.clear();
}

std::size_t DeviceManager::OpenDeviceInfoListCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->lists.size();
}

std::size_t DeviceManager::NodeCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->nodes.size();
}

std::size_t DeviceManager::OpenDeviceHandleCount() const {
    return DeviceFile::LiveCount();
}

std::u16string DeviceManager::InstanceId(DEVINST node) const {
    std::lock_guard lock(state_->mutex);
    auto n = state_->Find(node);
    return n ? n->instanceId : std::u16string();
}

std::u16string DeviceManager::DriverKey(DEVINST node) const {
    std::lock_guard lock(state_->mutex);
    auto n = state_->Find(node);
    return n ? n->driverKey : std::u16string();
}

DEVINST DeviceManager::Parent(DEVINST node) const {
    std::lock_guard lock(state_->mutex);
    auto n = state_->Find(node);
    auto parent = n ? n->parent.lock() : nullptr;
    return parent ? parent->devinst : 0;
}

std::vector<DEVINST> DeviceManager::Children(DEVINST node) const {
    std::lock_guard lock(state_->mutex);
    std::vector<DEVINST> out;
    if (auto n = state_->Find(node))
        for (const auto& child : n->children) out.push_back(child->devinst);
    return out;
}

bool DeviceManager::IsPresent(DEVINST node) const {
    std::lock_guard lock(state_->mutex);
    auto n = state_->Find(node);
    return n && n->present;
}

std::u16string DeviceManager::InterfacePath(DEVINST node, const GUID& interfaceClass) const {
    std::lock_guard lock(state_->mutex);
    if (auto n = state_->Find(node))
        for (const auto& itf : n->interfaces)
            if (itf.classGuid == interfaceClass) return u"\\\\?\\" + ToLowerAscii(itf.link);
    return {};
}

DEVINST DeviceManager::PrintingFunction(DEVINST device) const {
    std::lock_guard lock(state_->mutex);
    std::vector<std::shared_ptr<Node>> pending;
    if (auto n = state_->Find(device)) pending.push_back(n);
    while (!pending.empty()) {
        auto n = pending.back();
        pending.pop_back();
        for (const auto& itf : n->interfaces)
            if (itf.classGuid == GUID_DEVINTERFACE_USBPRINT) return n->devinst;
        for (auto it = n->children.rbegin(); it != n->children.rend(); ++it) pending.push_back(*it);
    }
    return 0;
}

std::u16string GuidToString(const GUID& g) {
    std::u16string out = u"{" + Hex(g.Data1, 8) + u"-" + Hex(g.Data2, 4) + u"-" + Hex(g.Data3, 4) + u"-";
    for (int i = 0; i < 8; ++i) {
        if (i == 2) out += u"-";
        out += Hex(g.Data4[i], 2);
    }
    return ToLowerAscii(out) + u"}";
}

}  // namespace Platform
