// A thread that runs one task.
#pragma once

namespace Tessary {

class ThreadBase {
public:
    virtual ~ThreadBase();

    virtual void Start() = 0;
    // 0: the thread has ended or was never started; 1: time-out; 2: failure.
    virtual int Wait(unsigned timeoutMs) = 0;
    virtual void Terminate() = 0;
    virtual bool IsRunning() = 0;
};

}  // namespace Tessary
