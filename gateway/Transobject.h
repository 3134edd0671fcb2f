#pragma once
// The transport of one gateway: a thread of its own, ticked by the worker
// and handed the RF packets to send. The worker knows a transport only
// through OnTick and SendRadioFrame.

#include <atomic>
#include <cstdint>
#include <thread>

class HlavniCem;
struct msgBox;

class transObject {
public:
    explicit transObject(HlavniCem* owner) : owner_(owner) {}
    // A derived destructor must call Stop() first: the thread runs the
    // derived Execute and uses the derived members.
    virtual ~transObject() { Stop(); }
    transObject(const transObject&) = delete;
    transObject& operator=(const transObject&) = delete;

    // Called by the worker every 100 ms, under the worker mutex.
    virtual void OnTick() = 0;
    // Queues one RF packet for the gateway; the box stays the caller's.
    virtual void SendRadioFrame(std::uint32_t rfAddress, int parameter, msgBox* packet) = 0;

    HlavniCem* Owner() const { return owner_; }
    bool Terminated() const { return terminated_.load(std::memory_order_acquire); }

protected:
    // The thread body; it returns once Terminated() is set.
    virtual void Execute() = 0;
    // The most derived constructor calls this last, so that the thread
    // never sees a half-built object.
    void Start()
    {
        if (!thread_.joinable())
            thread_ = std::thread([this] { Execute(); });
    }
    void Terminate() { terminated_.store(true, std::memory_order_release); }
    // Sets the terminate flag and waits for the thread body to return.
    void Stop()
    {
        Terminate();
        if (thread_.joinable())
            thread_.join();
    }

private:
    HlavniCem* owner_;
    std::atomic<bool> terminated_{false};
    std::thread thread_;
};
