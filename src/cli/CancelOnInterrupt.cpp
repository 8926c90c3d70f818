#include "cli/CancelOnInterrupt.h"

#include "batch/BatchProcessor.h"
#include "cli/InterruptFlag.h"

namespace orvanta::cli {

CancelOnInterrupt::CancelOnInterrupt(BatchProcessor& processor) {
    QObject::connect(&poll_, &QTimer::timeout, &context_, [this, &processor] {
        if (wasInterrupted() && !cancelled_) {
            cancelled_ = true;
            processor.cancelProcessing();
        }
    });
    poll_.start(50);
}

} // namespace orvanta::cli
