// The reading control without widgets: addresses, read request packets,
// their sequence, the guards, start and stop.
#include "app/Treadcontrol.h"

#include "gateway/Linkif.h"
#include "gateway/Rfpacket.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Sent {
    std::uint32_t gateway;
    int parameter;
    Bytes packet;
};

// Records what would go to the gateway and gives the buffer back, as the
// worker does.
class RecordingWorker : public TGatewayWorker {
public:
    explicit RecordingWorker(std::vector<Sent>* sent, int addResult = 1, std::vector<std::string>* ports = nullptr)
        : sent_(sent), addResult_(addResult), ports_(ports) {}
    int addSerialPort(const std::string& port, int channel) override {
        if (ports_) ports_->push_back(port + "/" + std::to_string(channel) + "/level " + std::to_string(debugLevel));
        return addResult_;
    }
    void sendMsg(std::uint32_t gateway, int parameter, msgBox* box) override {
        sent_->push_back({gateway, parameter, Bytes(box->data, box->data + box->length)});
        packetFree(box);
    }

private:
    std::vector<Sent>* sent_;
    int addResult_;
    std::vector<std::string>* ports_;
};

TEST(RfAddressText, ConvertsAsTheWorkerAndTheWorkbookWriteIt) {
    struct Case {
        const char* text;
        std::uint32_t value;
    } cases[] = {
        {"0x01020304", 0x01020304}, {"0XA0B0C0D", 0x0A0B0C0D}, {"0xa0b0c0d", 0x0A0B0C0D},
        {"017", 15},                {"12345", 12345},          {"  0x10", 16},
        {"\t42 zbytek", 42},         {"0x1fzz", 0x1F},          {"abc", 0},
        {"", 0},                    {"0x", 0},                 {"08", 0},
        {"0x00000000", 0},          {"0xFFFFFFFF", 0xFFFFFFFF}, {"0x100000000", 0xFFFFFFFF},
        {"99999999999999999999999", 0xFFFFFFFF}, {"4294967296", 0xFFFFFFFF}, {"4294967295", 0xFFFFFFFF},
    };
    for (const Case& c : cases) EXPECT_EQ(RfAddressFromText(c.text), c.value) << c.text;
}

TEST(ReadSequence, StartsAtOneAndWrapsBeforeTheAcknowledgementBit) {
    TReadSequence seq;
    EXPECT_EQ(seq.Take(), 1);
    for (int i = 2; i <= 127; ++i) EXPECT_EQ(seq.Take(), i);
    EXPECT_EQ(seq.Take(), 0);
    EXPECT_EQ(seq.Take(), 1);
}

TEST(ReadRequest, PacketBytesToAllAndToOneModule) {
    std::vector<Sent> sent;
    RecordingWorker worker(&sent);
    TReadSequence seq;
    ASSERT_TRUE(SendReadRequestPacket(&worker, seq, 0x01020304, 0, 3000));
    ASSERT_TRUE(SendReadRequestPacket(&worker, seq, 0x01020304, 0x0A0B0C0D, 3000));
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].gateway, 0x01020304u);
    EXPECT_EQ(sent[0].parameter, 3000);
    EXPECT_EQ(sent[0].packet, (Bytes {0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x07, 0x00, 0x01, 0x02}));
    EXPECT_EQ(sent[1].packet, (Bytes {0x0A, 0x0B, 0x0C, 0x0D, 0x01, 0x02, 0x03, 0x04, 0x07, 0x00, 0x02, 0x02}));
}

TEST(ReadRequest, DirtyPoolBuffersGiveTheSameBytes) {
    msgBox* box = packetAlloc();
    std::fill(box->data, box->data + 64, 0xEE);
    box->length = 40;
    packetFree(box);
    std::vector<Sent> sent;
    RecordingWorker worker(&sent);
    TReadSequence seq;
    ASSERT_TRUE(SendReadRequestPacket(&worker, seq, 0x05060708, 0x11, 0));
    EXPECT_EQ(sent.at(0).packet, (Bytes {0x00, 0x00, 0x00, 0x11, 0x05, 0x06, 0x07, 0x08, 0x07, 0x00, 0x01, 0x02}));
    EXPECT_EQ(sent.at(0).parameter, 0);
}

TEST(ReadRequest, GuardsSendNothingAndKeepNoBuffer) {
    std::vector<Sent> sent;
    RecordingWorker worker(&sent);
    TReadSequence seq;
    const int made = msgBoxPoolMade(), free = msgBoxPoolFreeCount();
    EXPECT_FALSE(SendReadRequestPacket(&worker, seq, 0, 0, 3000));
    EXPECT_FALSE(SendReadRequestPacket(&worker, seq, 0x01020304, 0, -1));
    EXPECT_FALSE(SendReadRequestPacket(nullptr, seq, 0x01020304, 0, 3000));
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(seq.Peek(), 1);
    EXPECT_EQ(msgBoxPoolMade() - msgBoxPoolFreeCount(), made - free);
}

TEST(ReadRequest, ThreeHundredRequestsKeepTheirSequenceBelowTheAckBit) {
    std::vector<Sent> sent;
    TReadingControl control([&] { return std::make_unique<RecordingWorker>(&sent); }, [](const std::string&) {});
    control.Start("COM3", 0);
    for (int i = 0; i < 300; ++i) ASSERT_TRUE(control.SendReadRequestTo("0x01020304", "0x0a0b0c0d", 3000));
    ASSERT_EQ(sent.size(), 300u);
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(sent[i].packet.size(), 12u);
        EXPECT_EQ(sent[i].packet[10], (i + 1) % 128) << i;
        EXPECT_LT(sent[i].packet[10], 0x80);
    }
}

TEST(ReadingControl, StartAndStopLogAndKeepTheSequence) {
    std::vector<std::string> log, ports;
    std::vector<Sent> sent;
    int made = 0;
    int addResult = 1;
    TReadingControl control(
        [&] {
            ++made;
            return std::make_unique<RecordingWorker>(&sent, addResult, &ports);
        },
        [&](const std::string& line) { log.push_back(line); });
    control.Stop();  // nothing runs: nothing happens
    EXPECT_TRUE(log.empty());
    control.Start("COM3", 3);
    control.Start("COM3", 3);  // already running
    EXPECT_EQ(made, 1);
    EXPECT_EQ(ports, (std::vector<std::string> {"COM3/-1/level 3"}));
    EXPECT_TRUE(control.SendReadRequest("0x01020304", 3000));
    control.Stop();
    EXPECT_FALSE(control.Running());
    EXPECT_FALSE(control.SendReadRequest("0x01020304", 3000));
    addResult = 0;
    control.Start("COM9", 0);
    EXPECT_TRUE(control.Running());  // the worker stays without its port
    EXPECT_TRUE(control.SendReadRequest("0x01020304", 3000));
    EXPECT_EQ(sent.back().packet[10], 2);
    EXPECT_EQ(log, (std::vector<std::string> {"Odecty spusteny .... ", "GW pridana->COM3", "Stradel zastaven .... ",
                                              "Odecty spusteny .... ", "COM port nelze pridat"}));
    debugLevel = 0;
}

TEST(ReadingControl, RowAndGatewayTextsThatAreNoNumbers) {
    std::vector<Sent> sent;
    TReadingControl control([&] { return std::make_unique<RecordingWorker>(&sent); }, [](const std::string&) {});
    control.Start("COM3", 0);
    EXPECT_FALSE(control.SendReadRequestTo("0x00000000", "0x11", 3000));
    EXPECT_FALSE(control.SendReadRequestTo("brána", "0x11", 3000));
    EXPECT_TRUE(control.SendReadRequestTo("0x01020304", "měřidlo", 3000));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(Bytes(sent[0].packet.begin(), sent[0].packet.begin() + 4), (Bytes {0, 0, 0, 0}));
}

}  // namespace
