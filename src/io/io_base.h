// What every camera family's digital IO shares: the last known state of each input and output, the output
// queue thread, the input poll thread, and the reports to the host's IO sink.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>

#include <brantel/capture_io.h>

#include "io/io_threads.h"
#include "runtime/recursive_lock.h"

namespace kestrav
{
class IDriver;

// IO state values.
constexpr std::int32_t kIOStateUnknown = 0;
constexpr std::int32_t kIOStateInactive = 1;
constexpr std::int32_t kIOStateActive = 2;

class CIOBase : public ICaptureIOApi
{
public:
    explicit CIOBase(IDriver* driver);
    ~CIOBase() override;

    // False, and the sink kept, for null.
    bool SetIOCallback(IIPIOSink* sink) override;
    // Switches every relay off and polls the inputs at once, then every input period.
    bool StartIO() override;
    bool StopIO() override;
    std::int32_t GetInputCount() override;
    std::int32_t GetOutputCount() override;
    // Queues the state for the output thread; only the latest state per output waits there. False for a
    // state other than inactive (off) or active (on), and while the IO is not started.
    bool SetOutputState(std::int32_t index, std::int32_t state) override;

    static constexpr std::uint32_t kInputPeriodMs = 2000;
    // How long StopIO waits for each thread.
    static constexpr std::uint32_t kStopWaitMs = 5000;
    // Tests shorten the poll; before StartIO.
    void SetInputPeriod(std::uint32_t milliseconds) { m_inputThread.SetPeriod(milliseconds); }

protected:
    // Output thread, for each command.
    virtual void OnOutputState(std::int32_t index, std::int32_t state);
    virtual bool SetCameraOutput(std::int32_t index, std::int32_t state) = 0;
    // Input thread: reads the inputs and reports them through ApplyInputState.
    virtual bool GetInputStates(std::int32_t count) = 0;
    // Ends the requests blocked on either thread; any thread.
    virtual void CancelRequests() {}

    void ApplyInputState(std::int32_t state);
    // Ends both threads; a derived destructor calls it before its request objects go away.
    bool StopThreads();
    IDriver* Driver() const { return m_driver; }

private:
    friend class TTickThread<CIOBase>;
    friend class TOutputHandler<CIOBase>;

    void HandleOutputItem(COutputState& item);
    void GetInputStatesWrapper();
    void SetOutputStateWrapper(std::int32_t index, std::int32_t state);
    void ResetIOStates();
    // After a failed request: the states reset and the host told; true for the first failure of a run,
    // which alone is logged.
    bool ReportFailure(bool& errorFlag);
    // A line whose format takes the method, the device address and its port.
    void LogDeviceLine(unsigned level, const char* format, const char* method);

    IDriver* m_driver;
    TTickThread<CIOBase> m_inputThread;
    TOutputHandler<CIOBase> m_outputThread;
    // Guards the maps, the error flags and the sink; never held while the sink or the camera is called.
    CRecursiveLock m_stateLock;
    std::map<std::int32_t, std::int32_t> m_outputStates;
    std::map<std::int32_t, std::int32_t> m_inputStates;
    // The newest state asked for each output whose command still waits in the queue.
    std::map<std::int32_t, std::int32_t> m_pendingOutputs;
    IIPIOSink* m_sink = nullptr;
    bool m_inputErrorFlag = true;
    bool m_outputErrorFlag = true;
    std::atomic<bool> m_outputsAccepted{false};
};
}
