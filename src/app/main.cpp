// orvanta: the window.
#include "app/MainWindow.h"
#include "app/ScreenshotTour.h"
#include "models/app/AppContext.h"
#include "models/app/AppLifecycle.h"
#include "models/app/MainWindowModel.h"
#include "models/app/WallpaperManager.h"

#include <QApplication>

#include <csignal>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QIcon>
#include <QTimer>

#include <filesystem>

namespace {

// The demo song of the build tree, offered on the import screen unless another is given.
std::filesystem::path defaultDemoSong() {
#ifdef ORVANTA_DEMO_SONG_PATH
    const std::filesystem::path built = ORVANTA_DEMO_SONG_PATH;
    std::error_code error;
    if (std::filesystem::is_regular_file(built, error)) return built;
#endif
    return {};
}

} // namespace

int main(int argc, char** argv) {
    // An export into a named pipe whose reader went away must fail with an error, not end the window.
    std::signal(SIGPIPE, SIG_IGN);
    using namespace orvanta;
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvanta"));
    QApplication::setDesktopFileName(QStringLiteral("orvanta"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("orvanta")));
    QApplication::setQuitOnLastWindowClosed(AppLifecycle::applicationShouldTerminateAfterLastWindowClosed());

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Masters one song at a time."));
    parser.addHelpOption();
    const QCommandLineOption demoOption(QStringLiteral("demo-song"), QStringLiteral("Song offered as the demo."),
                                        QStringLiteral("file"));
    parser.addOption(demoOption);
    const QCommandLineOption tourOption(QStringLiteral("screenshots"),
                                        QStringLiteral("Walk the screens with the demo song and save PNGs into the folder."),
                                        QStringLiteral("folder"));
    parser.addOption(tourOption);
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("Song to load at start."), QStringLiteral("[file]"));
    parser.process(application);

    // The one application object: every model and screen below gets its managers from here.
    AppContext app;
    AppLifecycle lifecycle(app.store, app.hub, [] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* main = qobject_cast<MainWindow*>(window)) main->applyTheme();
    });
    lifecycle.installShutdownHook();

    BatchProcessor& batch = app.batch;
    WallpaperManager wallpaper(app.store);
    MainWindowModel model(batch, app.settings, app.player, app.reference, app.eq, app.store, app.hub, app.pool);
    const std::filesystem::path demo =
        parser.isSet(demoOption) ? std::filesystem::path(parser.value(demoOption).toStdString()) : defaultDemoSong();
    MainWindow window({model, batch, app.settings, app.player, app.reference, app.status, app.themes, app.hub,
                       wallpaper, app.pool},
                      demo);
    lifecycle.applicationDidFinishLaunching();
    window.resize(1280, 800);
    window.show();

    ScreenshotTour tour(window, model, batch, app.reference, demo, parser.value(tourOption),
                        {QSize(1280, 800), QSize(1024, 700)});
    if (parser.isSet(tourOption)) tour.start();

    const QStringList files = parser.positionalArguments();
    if (!files.isEmpty()) {
        const std::filesystem::path file = QFileInfo(files.front()).absoluteFilePath().toStdString();
        QTimer::singleShot(0, &model, [&model, file] { model.dropFile(file); });
    }
    return application.exec();
}
