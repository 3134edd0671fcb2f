// A gateway worker that records what would go to the gateway and gives each
// buffer back to the pool, as the program's worker does.
#pragma once

#include "app/Treadcontrol.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace apptest {

using Bytes = std::vector<std::uint8_t>;

struct Sent {
    std::uint32_t gateway;
    int parameter;
    Bytes packet;
};

// What every worker made from one log did; addResult is what the next
// addSerialPort answers.
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

}  // namespace apptest
