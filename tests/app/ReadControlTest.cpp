// The reading control without widgets: addresses, read request packets,
// their sequence, the guards, start and stop.
#include "app/Treadcontrol.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// Gateway workers that record what would go to the gateway and give each
// buffer back to the pool, as the program's worker does; addResult is what
// the next addSerialPort answers.
struct WorkerLog {
    int made = 0;
    int alive = 0;
    int addResult = 1;
    std::vector<std::string> ports;  // "port channel level n"
    std::vector<Sent> sent;

    TReadingControl::Factory Factory() {
        return [this] { return std::make_unique<Worker>(this); };
    }

    class Worker : public TGatewayWorker {
    public:
        explicit Worker(WorkerLog* log) : log_(log) {
            ++log_->made;
            ++log_->alive;
        }
        ~Worker() override { --log_->alive; }
        int addSerialPort(const std::string& port, int channel) override {
            log_->ports.push_back(port + " " + std::to_string(channel) + " level " + std::to_string(debugLevel));
            return log_->addResult;
        }
        void sendMsg(std::uint32_t gateway, int parameter, packetHandle box) override {
            log_->sent.push_back({gateway, parameter, Bytes(box->data, box->data + box->length)});
        }

    private:
        WorkerLog* log_;
    };
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

// Pool buffers come back dirty: no packet keeps their old bytes. The
// sequence runs 1..127, 0, 1, ...: no sequence byte reaches the ack bit.
// Addresses and parameter on the line: ReadingEndToEnd's frames.
TEST(ReadRequest, PacketsFromADirtyPoolKeepTheirSequenceBelowTheAckBit) {
    msgBox* box = packetAlloc();
    std::fill(box->data, box->data + 64, 0xEE);
    box->length = 40;
    packetFree(box);
    WorkerLog log;
    TReadingControl control(log.Factory(), [](const std::string&) {});
    control.Start("COM3", 0);
    ASSERT_TRUE(control.SendReadRequest("0x01020304", 3000));
    for (int i = 1; i < 300; ++i) ASSERT_TRUE(control.SendReadRequestTo("0x05060708", "0x0a0b0c0d", 0));
    ASSERT_EQ(log.sent.size(), 300u);
    EXPECT_EQ(log.sent[0].packet, (Bytes {0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x07, 0x00, 0x01, 0x02}));
    for (int i = 0; i < 300; ++i) EXPECT_EQ(log.sent[i].packet[10], (i + 1) % 128) << i;
}

// No gateway address, or no worker: nothing is sent, no buffer kept, no
// sequence number taken (the first request sent after has 1).
TEST(ReadRequest, GuardsSendNothingAndKeepNoBuffer) {
    WorkerLog log;
    const int held = msgBoxPoolMade() - msgBoxPoolFreeCount();
    TReadingControl control(log.Factory(), [](const std::string&) {});
    EXPECT_FALSE(control.SendReadRequestTo("0x01020304", "0x11", 3000));
    control.Start("COM3", 0);
    EXPECT_FALSE(control.SendReadRequestTo("brána", "0x11", 3000));
    EXPECT_TRUE(log.sent.empty());
    EXPECT_EQ(msgBoxPoolMade() - msgBoxPoolFreeCount(), held);
    EXPECT_TRUE(control.SendReadRequestTo("0x01020304", "měřidlo", 3000));
    EXPECT_EQ(Bytes(log.sent[0].packet.begin(), log.sent[0].packet.begin() + 4), (Bytes {0, 0, 0, 0}));
    EXPECT_EQ(log.sent[0].packet[10], 1);
}

TEST(ReadingControl, StartAndStopLogAndKeepTheSequence) {
    std::vector<std::string> lines;
    WorkerLog log;
    TReadingControl control(log.Factory(), [&](const std::string& line) { lines.push_back(line); });
    control.Stop();  // nothing runs: nothing happens
    control.Start("COM3", 3);
    control.Start("COM3", 3);  // already running
    EXPECT_EQ(log.made, 1);
    EXPECT_EQ(log.ports, (std::vector<std::string> {"COM3 -1 level 3"}));
    EXPECT_TRUE(control.SendReadRequest("0x01020304", 3000));
    control.Stop();
    EXPECT_EQ(log.alive, 0);
    EXPECT_FALSE(control.SendReadRequest("0x01020304", 3000));
    log.addResult = 0;
    control.Start("COM9", 0);
    EXPECT_TRUE(control.Running());  // the worker stays without its port
    EXPECT_TRUE(control.SendReadRequest("0x01020304", 3000));
    EXPECT_EQ(log.sent.back().packet[10], 2);
    EXPECT_EQ(lines, (std::vector<std::string> {"Odecty spusteny .... ", "GW pridana->COM3", "Stradel zastaven .... ",
                                                "Odecty spusteny .... ", "COM port nelze pridat"}));
    debugLevel = 0;
}

}  // namespace
