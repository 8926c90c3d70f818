#include "cli/EventLoop.h"

#include <QEventLoop>
#include <QFutureWatcher>

#include <cstdlib>

namespace orvanta::cli {

QCoreApplication& ensureApplication() {
    if (QCoreApplication* existing = QCoreApplication::instance()) return *existing;
    // The command line plays nothing: the shared player gets the silent output instead of probing
    // the sound server.
    ::setenv("ORVANTA_AUDIO_OUTPUT", "null", 1);
    static int argc = 1;
    static char name[] = "orvanta-cli";
    static char* argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
    return application;
}

void waitFor(const QFuture<void>& future) {
    ensureApplication();
    if (future.isFinished()) return;
    QEventLoop loop;
    QFutureWatcher<void> watcher;
    QObject::connect(&watcher, &QFutureWatcher<void>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(future);
    if (!future.isFinished()) loop.exec();
}

} // namespace orvanta::cli
