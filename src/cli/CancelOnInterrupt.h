#pragma once

// Main thread, with the event loop of cli/EventLoop.h running.

#include <QObject>
#include <QTimer>

namespace orvanta {
class BatchProcessor;
}

namespace orvanta::cli {

// Turns Ctrl+C (the interrupt flag) into one cancelProcessing of `processor`'s running pass, checked
// every 50 ms from the event loop.
class CancelOnInterrupt {
public:
    explicit CancelOnInterrupt(BatchProcessor& processor);

private:
    QObject context_;
    QTimer poll_;
    bool cancelled_ = false;
};

} // namespace orvanta::cli
