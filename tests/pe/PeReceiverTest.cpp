#include "PeReceiver.h"
#include "XBuffer.h"
#include "XUdp.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

// The receiver is filled by hand here (its thread is not started) from a
// loopback sender, so every test knows exactly what is pending.
namespace {

using Bytes = std::vector<std::uint8_t>;

class PeReceiverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(endpoint.Open(0, "127.0.0.1"), 0);
        int bytes = 4 * 1024 * 1024;
        setsockopt(endpoint.GetHandle(), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
        sockaddr_in bound{};
        socklen_t length = sizeof bound;
        ASSERT_EQ(getsockname(endpoint.GetHandle(), reinterpret_cast<sockaddr*>(&bound), &length), 0);
        target = bound;
        sender = socket(AF_INET, SOCK_DGRAM, 0);
        ASSERT_GE(sender, 0);
        receiver = std::make_unique<PeReceiver>(&endpoint);
    }
    void TearDown() override
    {
        receiver.reset();
        if (sender >= 0)
            close(sender);
    }

    void Send(const Bytes& datagram)
    {
        ASSERT_EQ(sendto(sender, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&target),
                         sizeof target),
                  static_cast<ssize_t>(datagram.size()));
    }

    // The next queued datagram's bytes; fails the test when none is queued.
    Bytes Take()
    {
        std::unique_ptr<XBuffer> datagram(receiver->TakeNext());
        if (!datagram) {
            ADD_FAILURE() << "queue empty";
            return {};
        }
        return Bytes(datagram->GetData(), datagram->GetData() + datagram->GetSize());
    }

    XUdp endpoint;
    sockaddr_in target{};
    int sender = -1;
    std::unique_ptr<PeReceiver> receiver;
};

// A datagram that names its place in a sequence in its first four bytes.
Bytes Numbered(std::uint32_t number, size_t size = 16)
{
    Bytes bytes(size, static_cast<std::uint8_t>(number * 7));
    for (size_t i = 0; i < 4 && i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(number >> (8 * i));
    return bytes;
}

std::uint32_t NumberOf(const Bytes& bytes)
{
    std::uint32_t number = 0;
    for (size_t i = 0; i < 4 && i < bytes.size(); ++i)
        number |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
    return number;
}

TEST_F(PeReceiverTest, KeepsEveryDatagramWholeAndInOrderAcrossBatches)
{
    // More than two batches, with an empty datagram and one of the largest
    // size that is kept whole in between.
    const int count = 2 * PeReceiver::kBatchSize + 5;
    std::vector<Bytes> sent;
    for (int i = 0; i < count; ++i) {
        size_t size = i == 3 ? 0 : i == 70 ? PeReceiver::kDatagramSize : 16 + i % 9;
        sent.push_back(Numbered(static_cast<std::uint32_t>(i), size));
        Send(sent.back());
    }
    EXPECT_EQ(receiver->Fill(), count);
    for (int i = 0; i < count; ++i)
        EXPECT_EQ(Take(), sent[static_cast<size_t>(i)]) << "datagram " << i;
    EXPECT_EQ(receiver->TakeNext(), nullptr);
}

TEST_F(PeReceiverTest, LongerDatagramArrivesCut)
{
    Bytes big = Numbered(9, PeReceiver::kDatagramSize + 300);
    Send(big);
    Send(Numbered(10));
    EXPECT_EQ(receiver->Fill(), 2);
    EXPECT_EQ(Take(), Bytes(big.begin(), big.begin() + PeReceiver::kDatagramSize));
    EXPECT_EQ(Take(), Numbered(10));
}

TEST_F(PeReceiverTest, QueueThatNeverEmptiesKeepsOrderAndStaysSmall)
{
    // Each round leaves some datagrams behind, so the queue is never empty
    // when it is taken from; its storage must still not grow with the rounds.
    std::uint32_t next = 0;
    std::uint32_t expected = 0;
    int largest = 0;
    for (int round = 0; round < 400; ++round) {
        for (int i = 0; i < 50; ++i)
            Send(Numbered(next++));
        int queued = receiver->Fill();
        largest = std::max(largest, receiver->GetSlotCount());
        for (int i = 0; i < queued - 3; ++i)
            ASSERT_EQ(NumberOf(Take()), expected++);
    }
    while (receiver->Fill() > 0)
        ASSERT_EQ(NumberOf(Take()), expected++);
    EXPECT_EQ(expected, next);
    // 20000 datagrams went through; without compaction the slots would too.
    EXPECT_LT(largest, 4096);
}

TEST_F(PeReceiverTest, FloodBeyondTheLimitKeepsTheOldestAndReadsTheRest)
{
    const int extra = 100;
    const std::uint32_t total = PeReceiver::kMaxQueued + extra;
    for (std::uint32_t sent = 0; sent < total;) {
        for (int i = 0; i < 256 && sent < total; ++i)
            Send(Numbered(sent++));
        receiver->Fill();
    }
    EXPECT_EQ(receiver->Fill(), PeReceiver::kMaxQueued);
    // The socket was read empty: the dropped ones do not come later.
    Send(Numbered(total));
    EXPECT_EQ(receiver->Fill(), PeReceiver::kMaxQueued);
    EXPECT_EQ(NumberOf(Take()), 0u);
    receiver->Discard();
    EXPECT_EQ(receiver->TakeNext(), nullptr);
    EXPECT_EQ(receiver->Fill(), 0);
}

TEST_F(PeReceiverTest, ThreadDeliversWhatArrivesAndStops)
{
    receiver->Start();
    for (int i = 0; i < 300; ++i)
        Send(Numbered(static_cast<std::uint32_t>(i)));
    std::uint32_t expected = 0;
    for (int wait = 0; wait < 500 && expected < 300; ++wait) {
        while (std::unique_ptr<XBuffer> datagram{receiver->TakeNext()})
            ASSERT_EQ(NumberOf(Bytes(datagram->GetData(), datagram->GetData() + datagram->GetSize())), expected++);
        usleep(10000);
    }
    EXPECT_EQ(expected, 300u);
    receiver->Stop();
    EXPECT_FALSE(receiver->IsRunning());
}

} // namespace
