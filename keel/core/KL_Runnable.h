// Something a thread can run.
#pragma once

class KL_Runnable {
public:
    virtual ~KL_Runnable() = default;
    virtual void Run() = 0;
};
