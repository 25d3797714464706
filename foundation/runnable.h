// A body of work that a thread or a job queue runs by calling Run.
#pragma once

class CRunnable {
public:
    virtual ~CRunnable() = default;
    virtual void Run() = 0;
};
