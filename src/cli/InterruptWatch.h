#pragma once
// Ctrl-C as a request to finish: while an InterruptWatch exists, SIGINT only raises a flag
// that a command's loop checks, so that it can stop its device and keep what it has.

class InterruptWatch {
public:
    InterruptWatch();
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    bool interrupted() const;
};
