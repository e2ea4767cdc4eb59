#include "ReplyCostCases.h"

#include "EventLoopProbe.h"
#include "Main.h"
#include "OnvifDeviceModel.h"
#include "OnvifSearch.h"
#include "PeClient.h"
#include "PeDeviceModel.h"
#include "PeDevices.h"
#include "PeFrame.h"
#include "XBuffer.h"
#include "XAutoLock.h"

#include <QCoreApplication>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// Each figure is the median of this many runs.
const int kRuns = 15;
const std::vector<int> kPeSizes = {10, 20, 40, 80, 160, 320, 640, 1280, 2560, 4096};
const std::vector<int> kOnvifSizes = {10, 20, 40, 80, 160, 320, 640, 1000};

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

template <typename Work>
double TimeUs(Work work)
{
    const BenchClock::time_point start = BenchClock::now();
    work();
    return std::chrono::duration<double, std::micro>(BenchClock::now() - start).count();
}

// The list's own painting after a change, done at once instead of on the
// next loop pass: the posted layout work, then a full repaint of its viewport.
double PaintUs(QTableView* view)
{
    return TimeUs([view] {
        QCoreApplication::sendPostedEvents();
        view->viewport()->repaint();
    });
}

// How fast the cost grows from the previous size: the ratio, and that ratio
// per doubling of the records (2 means linear, 4 quadratic).
void PrintGrowth(std::FILE* out, int previousRecords, double previousUs, int records, double us)
{
    if (previousRecords <= 0 || previousUs <= 0) {
        std::fprintf(out, "\n");
        return;
    }
    const double growth = us / previousUs;
    const double doublings = std::log2(static_cast<double>(records) / previousRecords);
    std::fprintf(out, " growth=%.2f per_doubling=%.2f\n", growth, std::pow(growth, 1.0 / doublings));
}

// Stops the window's timers for a plain timing loop and starts them again.
class TimersStopped {
public:
    TimersStopped()
    {
        Form1->peTimer->stop();
        Form1->onvifTimer->stop();
    }
    ~TimersStopped()
    {
        Form1->peTimer->start();
        Form1->onvifTimer->start();
    }
};

// ---- PE ----

// Device k: MAC 02 42 45 + k, IP 10.x.y.z = 10.0.0.0 + k; names as the
// emulator makes them, so cells hold texts of the usual length.
void FillPeRecord(tagDevice& device, int k)
{
    std::memset(&device, 0, sizeof device);
    const std::uint8_t mac[6] = {0x02, 0x42, 0x45, std::uint8_t(k >> 16), std::uint8_t(k >> 8), std::uint8_t(k)};
    std::memcpy(device.mac, mac, 6);
    const std::uint8_t ip[4] = {10, std::uint8_t(k >> 16), std::uint8_t(k >> 8), std::uint8_t(k)};
    std::memcpy(device.ip, ip, 4);
    const std::uint8_t mask[4] = {255, 0, 0, 0};
    std::memcpy(device.mask, mask, 4);
    const std::uint8_t gateway[4] = {10, 0, 0, 1};
    std::memcpy(device.gateway, gateway, 4);
    std::snprintf(device.name, sizeof device.name, "摄像机-%04d", k % 10000);
    std::snprintf(device.model, sizeof device.model, "NVC-2000");
    std::snprintf(device.version, sizeof device.version, "V2.1.0");
    std::snprintf(device.serial, sizeof device.serial, "NV%014d", k);
}

// A device-info reply (serial false) or serial reply of device k.
std::unique_ptr<XBuffer> PeReplyFrame(int k, bool serial)
{
    tagDevice device;
    FillPeRecord(device, k);
    PeMessage message{};
    message.command = kPeCommandSearch;
    std::memcpy(message.mac, device.mac, 6);
    if (serial) {
        message.kind = kPeKindSerial;
        message.payloadLength = kPeSerialLength;
        std::memcpy(message.payload + kPeSerialOffset, device.serial, kPeTextFieldSize);
    } else {
        message.kind = kPeKindDeviceInfo;
        message.payloadLength = kPeDeviceInfoLength;
        std::memcpy(message.payload + kPeIpOffset, device.ip, 4);
        std::memcpy(message.payload + kPeMaskOffset, device.mask, 4);
        std::memcpy(message.payload + kPeGatewayOffset, device.gateway, 4);
        std::memcpy(message.payload + kPeNameOffset, device.name, kPeTextFieldSize);
        std::memcpy(message.payload + kPeModelOffset, device.model, kPeTextFieldSize);
        std::memcpy(message.payload + kPeVersionOffset, device.version, kPeTextFieldSize);
    }
    std::unique_ptr<XBuffer> frame(new XBuffer);
    EncodePeFrame(*frame, message);
    return frame;
}

// Sends the frame from a loopback socket to the PE endpoint. Loopback delivery
// is done when sendto returns, so the next poll finds the datagram.
bool SendToPeEndpoint(int sender, const XBuffer& frame)
{
    sockaddr_in endpoint{};
    socklen_t length = sizeof endpoint;
    if (getsockname(g_peSocket.GetHandle(), reinterpret_cast<sockaddr*>(&endpoint), &length) != 0)
        return false;
    endpoint.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sendto(sender, frame.GetData(), frame.GetSize(), 0, reinterpret_cast<const sockaddr*>(&endpoint),
                  sizeof endpoint) == frame.GetSize();
}

// Fills g_peDevices with records - 1 devices of even k, in the table's order,
// and lists them; the new device's odd k then sorts into the middle.
void PreparePeTable(int records)
{
    Form1->peButton_ClearTableClick();
    const int fill = records - 1;
    g_peDevices.SetSize(fill);
    for (int i = 0; i < fill; ++i) {
        auto* device = new tagDevice;
        FillPeRecord(*device, 2 * (i + 1));
        g_peDevices[g_peSortOrder > 0 ? i : fill - 1 - i] = device;
    }
    SortPeDevices(g_peDevices, g_peSortOrder);
    Form1->RefreshPeList();
    PaintUs(Form1->peListView);
}

// ---- ONVIF ----

// Text of the emulator's device n address: 10.77.2.1 + n.
std::string OnvifIpText(int n)
{
    const unsigned address = (10u << 24 | 77u << 16 | 2u << 8 | 1u) + static_cast<unsigned>(n);
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 255) + "." +
           std::to_string((address >> 8) & 255) + "." + std::to_string(address & 255);
}

COnvifDevice* MakeStandInRecord(const std::string& ipText, int n)
{
    auto* device = new COnvifDevice;
    device->name.Format("Camera-%04d", n);
    device->ipText.Assign(ipText.c_str());
    device->uuid.Format("urn:uuid:6e766e76-%04x-4000-8000-%012x", n, n);
    device->serviceAddress.Format("http://%s/onvif/device_service", ipText.c_str());
    return device;
}

// Fills g_onvifDevices with records - 1 devices in the table's order and lists
// them; returns the record left out, whose IP text sorts into the middle.
COnvifDevice* PrepareOnvifTable(int records)
{
    Form1->onvifButton_ClearTableClick();
    std::vector<std::pair<std::string, int>> texts;
    for (int n = 0; n < records; ++n)
        texts.emplace_back(OnvifIpText(n), n);
    std::sort(texts.begin(), texts.end());
    if (g_onvifSortOrder < 0)
        std::reverse(texts.begin(), texts.end());
    const int middle = records / 2;
    XArray<COnvifDevice>& table = g_onvifDevices.devices;
    table.SetSize(records - 1);
    for (int i = 0, slot = 0; i < records; ++i) {
        if (i != middle)
            table[slot++] = MakeStandInRecord(texts[i].first, texts[i].second);
    }
    SortOnvifDevices(g_onvifDevices, g_onvifSortOrder);
    Form1->RefreshOnvifList();
    PaintUs(Form1->onvifListView);
    return MakeStandInRecord(texts[middle].first, texts[middle].second);
}

} // namespace

bool RunPeReplyCost(std::FILE* out)
{
    TimersStopped stopped;
    PollPeReplies(nullptr); // nothing of earlier cases may be waiting
    int sender = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sender < 0 || g_peSocket.GetHandle() == -1) {
        std::fprintf(stderr, "ui-bench: no loopback socket or no PE endpoint\n");
        if (sender >= 0)
            close(sender);
        return false;
    }
    // The list on show, as for a user watching it.
    Form1->PageControl1->setCurrentIndex(0);
    int previousRecords = 0;
    double previousUs = 0;
    // The first size once more before it counts: first-use costs (fonts,
    // caches) are no part of the growth.
    std::vector<int> sizes = kPeSizes;
    sizes.insert(sizes.begin(), kPeSizes.front());
    for (size_t step = 0; step < sizes.size(); ++step) {
        const int records = sizes[step];
        std::vector<double> info, serial, paint;
        for (int run = 0; run < kRuns; ++run) {
            PreparePeTable(records);
            // Odd k between the even ones of the table: the middle of the order.
            const int k = 2 * ((records - 1) / 2) + 1;
            const std::unique_ptr<XBuffer> infoFrame = PeReplyFrame(k, false);
            const std::unique_ptr<XBuffer> serialFrame = PeReplyFrame(k, true);
            const bool sent = SendToPeEndpoint(sender, *infoFrame);
            info.push_back(TimeUs([] { Form1->peTimerTimer(); }));
            paint.push_back(PaintUs(Form1->peListView));
            const bool sentSerial = SendToPeEndpoint(sender, *serialFrame);
            serial.push_back(TimeUs([] { Form1->peTimerTimer(); }));
            if (!sent || !sentSerial || g_peDevices.GetSize() != records ||
                Form1->peModel->rowCount() != records) {
                std::fprintf(stderr, "ui-bench: the reply at %d records was not handled (%d records)\n", records,
                             g_peDevices.GetSize());
                close(sender);
                return false;
            }
        }
        const double us = Median(info);
        if (step == 0)
            continue;
        std::fprintf(out, "pe-reply-cost records=%d us=%.1f serial_us=%.1f paint_us=%.1f", records, us,
                     Median(serial), Median(paint));
        PrintGrowth(out, previousRecords, previousUs, records, us);
        std::fflush(out);
        previousRecords = records;
        previousUs = us;
    }
    close(sender);
    return true;
}

bool RunOnvifReplyCost(std::FILE* out)
{
    // Records come from a stand-in worker that is never started; a real one
    // must have ended first, as the search button itself requires.
    if (g_discoverThread) {
        if (!RunEventLoopUntil([] { return !g_discoverThread->IsRunning(); }, 15000)) {
            std::fprintf(stderr, "ui-bench: the ONVIF search did not end\n");
            return false;
        }
        g_discoverThread->Join();
        delete g_discoverThread;
    }
    g_discoverThread = new COnvifDiscoverThread;
    TimersStopped stopped;
    Form1->PageControl1->setCurrentIndex(1);
    int previousRecords = 0;
    double previousUs = 0;
    std::vector<int> sizes = kOnvifSizes;
    sizes.insert(sizes.begin(), kOnvifSizes.front());
    for (size_t step = 0; step < sizes.size(); ++step) {
        const int records = sizes[step];
        std::vector<double> merge, paint;
        for (int run = 0; run < kRuns; ++run) {
            COnvifDevice* fresh = PrepareOnvifTable(records);
            {
                XAutoLock hold(&g_discoverThread->lock);
                XArray<COnvifDevice>& found = g_discoverThread->devices;
                found.SetSize(1);
                found[0] = fresh;
            }
            merge.push_back(TimeUs([] { Form1->onvifTimerTimer(); }));
            paint.push_back(PaintUs(Form1->onvifListView));
            if (g_onvifDevices.devices.GetSize() != records || Form1->onvifModel->rowCount() != records) {
                std::fprintf(stderr, "ui-bench: the record at %d records was not merged (%d records)\n", records,
                             g_onvifDevices.devices.GetSize());
                return false;
            }
        }
        const double us = Median(merge);
        if (step == 0)
            continue;
        std::fprintf(out, "onvif-reply-cost records=%d us=%.1f paint_us=%.1f", records, us, Median(paint));
        PrintGrowth(out, previousRecords, previousUs, records, us);
        std::fflush(out);
        previousRecords = records;
        previousUs = us;
    }
    return true;
}
