#pragma once

#include "app/AnalyzerPanelView.h"
#include "models/app/WindowAlerts.h"

#include <QFileDialog>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>

#include <filesystem>

class QHBoxLayout;
class QStackedWidget;

class QThreadPool;

namespace orvanta {

class AudioPlayerManager;
class AudioSettingsManager;
class BatchProcessor;
class ImportScreen;
class MainWindowModel;
class NotificationHub;
class ProcessingScreen;
class ProcessingStatusManager;
class ReferenceTrackManager;
class ResultScreen;
class ThemeManager;
class WallpaperBackground;
class WallpaperManager;

// The shared managers the window shows and drives; all must outlive the window.
struct MainWindowServices {
    MainWindowModel& model;
    BatchProcessor& batch;
    AudioSettingsManager& settings;
    AudioPlayerManager& player;
    ReferenceTrackManager& reference;
    ProcessingStatusManager& status;
    ThemeManager& themes;
    NotificationHub& hub;
    WallpaperManager& wallpaper;
    QThreadPool& pool;
};

// The application's one window: the import, processing and result screens of the model's appState,
// the analyzer panel beside them while the model shows it, the model's alerts as message boxes, the
// export dialogs, the menus with their shortcuts (Ctrl+O, Space, Ctrl+E, Ctrl+Q) and the theme and
// wallpaper. Dialogs open window-modal without a nested event loop. Main thread.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(MainWindowServices services, std::filesystem::path demoSong = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    ImportScreen* importScreen() const { return importScreen_; }
    ProcessingScreen* processingScreen() const { return processingScreen_; }
    ResultScreen* resultScreen() const { return resultScreen_; }
    AnalyzerPanelView* analyzerPanel() const { return analyzerPanel_; }
    QWidget* currentScreen() const;
    // The open alert, export-selection box or file dialog, if any.
    QMessageBox* openMessageBox() const { return messageBox_; }
    QFileDialog* openFileDialog() const { return fileDialog_; }

    // Restyles the window with the current theme and wallpaper.
    void applyTheme();

    // The menu commands (also reachable from the screens' controls).
    void openSong();
    void exportCurrent();
    void exportAllCurrent();
    void togglePlayProcessed();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void showScreenOfState();
    void showAlert();
    void askExportChoice();
    void askExportDestination(ExportChoice choice);
    void showAnalyzerPanel();
    void dropAnalyzerPanel();
    void buildMenus();
    void chooseWallpaper();
    QMessageBox* newMessageBox(const QString& title, const QString& message);

    MainWindowServices services_;
    WallpaperBackground* background_;
    QStackedWidget* screens_;
    QWidget* analyzerSide_;
    QHBoxLayout* analyzerSideLayout_;
    ImportScreen* importScreen_;
    ProcessingScreen* processingScreen_;
    ResultScreen* resultScreen_;
    QPointer<AnalyzerPanelView> analyzerPanel_;
    QPointer<QMessageBox> messageBox_;
    QPointer<QFileDialog> fileDialog_;
    bool shownOnce_ = false;
};

} // namespace orvanta
