#include "app/MainWindow.h"

#include "app/AnalyzerPanelView.h"
#include "app/DropZoneWidget.h"
#include "app/ImportScreen.h"
#include "app/ProcessingScreen.h"
#include "app/ResultScreen.h"
#include "app/WallpaperBackground.h"
#include "app/WindowStyle.h"
#include "models/app/MainWindowModel.h"
#include "models/app/QtText.h"
#include "models/app/ResultTransport.h"
#include "models/app/ThemeManager.h"
#include "models/app/WallpaperManager.h"
#include "models/batch/BatchProcessor.h"

#include <QActionGroup>
#include <QApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QStandardPaths>

namespace orvanta {
namespace {

QMessageBox::ButtonRole boxRole(AlertButtonRole role) {
    switch (role) {
    case AlertButtonRole::destructive: return QMessageBox::DestructiveRole;
    case AlertButtonRole::cancel: return QMessageBox::RejectRole;
    case AlertButtonRole::normal: break;
    }
    return QMessageBox::AcceptRole;
}

} // namespace

MainWindow::MainWindow(MainWindowServices services, std::filesystem::path demoSong, QWidget* parent)
    : QMainWindow(parent), services_(services) {
    setWindowTitle(QStringLiteral("Orvanta"));
    setMinimumSize(960, 640);

    background_ = new WallpaperBackground(services_.wallpaper);
    auto* columns = new QHBoxLayout(background_);
    columns->setContentsMargins(24, 16, 24, 16);
    columns->setSpacing(16);
    screens_ = new QStackedWidget;
    importScreen_ = new ImportScreen(services_.model, services_.settings, services_.batch, services_.reference,
                                     services_.pool, std::move(demoSong));
    processingScreen_ = new ProcessingScreen(services_.model, services_.batch, services_.status);
    resultScreen_ = new ResultScreen(services_.model, services_.batch, services_.player, services_.reference,
                                     services_.hub, services_.pool);
    screens_->addWidget(importScreen_);
    screens_->addWidget(processingScreen_);
    screens_->addWidget(resultScreen_);
    columns->addWidget(screens_, 3);
    analyzerSide_ = new QWidget;
    analyzerSide_->setObjectName(QStringLiteral("analyzerSide"));
    analyzerSideLayout_ = new QHBoxLayout(analyzerSide_);
    analyzerSideLayout_->setContentsMargins(0, 0, 0, 0);
    analyzerSide_->setVisible(false);
    columns->addWidget(analyzerSide_, 2);
    setCentralWidget(background_);
    buildMenus();

    connect(&services_.model, &MainWindowModel::appStateChanged, this, &MainWindow::showScreenOfState);
    connect(&services_.model, &MainWindowModel::alertTypeChanged, this, &MainWindow::showAlert);
    connect(&services_.model, &MainWindowModel::showAnalyzerPanelChanged, this, &MainWindow::showAnalyzerPanel);
    connect(resultScreen_, &ResultScreen::exportRequested, this, &MainWindow::exportCurrent);
    connect(resultScreen_, &ResultScreen::exportAllRequested, this, &MainWindow::exportAllCurrent);
    connect(&services_.themes, &ThemeManager::currentThemeChanged, this, &MainWindow::applyTheme);
    connect(&services_.wallpaper, &WallpaperManager::wallpaperChanged, this, &MainWindow::applyTheme);
    showScreenOfState();
    applyTheme();
}

MainWindow::~MainWindow() = default;

QWidget* MainWindow::currentScreen() const { return screens_->currentWidget(); }

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shownOnce_) return;
    shownOnce_ = true;
    services_.model.windowShown();
}

void MainWindow::applyTheme() {
    const Theme& theme = services_.themes.currentTheme();
    setStyleSheet(windowStyleSheet(theme));
    // The drawn views paint in the theme they are given.
    importScreen_->setTheme(theme);
    resultScreen_->setTheme(theme);
    if (analyzerPanel_) analyzerPanel_->setTheme(theme);
    background_->setTheme(theme);
    background_->update();
}

void MainWindow::showScreenOfState() {
    switch (services_.model.appState()) {
    case AppState::importFiles: screens_->setCurrentWidget(importScreen_); break;
    case AppState::processing: screens_->setCurrentWidget(processingScreen_); break;
    case AppState::result:
        screens_->setCurrentWidget(resultScreen_);
        resultScreen_->showSpectra();
        break;
    }
}

QMessageBox* MainWindow::newMessageBox(const QString& title, const QString& message) {
    if (messageBox_) messageBox_->deleteLater();
    auto* box = new QMessageBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::NoIcon);
    box->setWindowTitle(title);
    box->setText(title);
    box->setInformativeText(message);
    messageBox_ = box;
    return box;
}

void MainWindow::showAlert() {
    const std::optional<AlertType> type = services_.model.alertType();
    if (!type) {
        // Dismissed elsewhere (or answered): the box, if still open, goes too.
        if (messageBox_ && messageBox_->property("alert").toBool()) messageBox_->close();
        return;
    }
    const AlertContent content = alertContent(*type);
    QString message = qtText(content.message);
    if (!services_.model.alertDetail().isEmpty()) message += QStringLiteral("\n\n") + services_.model.alertDetail();
    QMessageBox* box = newMessageBox(qtText(content.title), message);
    box->setProperty("alert", true);
    for (const AlertButton& button : content.buttons) {
        QPushButton* added = box->addButton(qtText(button.label), boxRole(button.role));
        if (button.role == AlertButtonRole::cancel) box->setEscapeButton(added);
    }
    if (content.buttons.size() == 1) box->setEscapeButton(box->buttons().front());
    connect(box, &QMessageBox::buttonClicked, this, [this, box](QAbstractButton* button) {
        box->setProperty("alert", false);
        services_.model.answerAlert(button->text());
    });
    box->open();
}

void MainWindow::exportCurrent() {
    if (services_.model.appState() != AppState::result || services_.model.isExporting()) return;
    const auto& file = services_.batch.currentFile();
    if (!file || file->processingStatus != AudioFile::ProcessingStatus::completed) return;
    if (file->masterURL && file->finalURL) {
        askExportChoice();
        return;
    }
    askExportDestination(file->finalURL ? ExportChoice::final : ExportChoice::master);
}

void MainWindow::askExportChoice() {
    QMessageBox* box = newMessageBox(qtText(exportSelectionTitle), qtText(exportSelectionMessage));
    QPushButton* master = box->addButton(qtText(exportMasterButton), QMessageBox::AcceptRole);
    QPushButton* final = box->addButton(qtText(exportFinalButton), QMessageBox::AcceptRole);
    box->setEscapeButton(box->addButton(qtText(exportCancelButton), QMessageBox::RejectRole));
    box->setDefaultButton(services_.batch.isFinalMode() ? final : master);
    connect(box, &QMessageBox::buttonClicked, this, [this, master, final](QAbstractButton* button) {
        if (button == master) askExportDestination(ExportChoice::master);
        else if (button == final) askExportDestination(ExportChoice::final);
    });
    box->open();
}

void MainWindow::askExportDestination(ExportChoice choice) {
    const auto& file = services_.batch.currentFile();
    const QString folder = file ? QString::fromStdString(file->url.parent_path().string())
                                : QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    const QString name = services_.model.proposedExportFileName(choice);
    auto* dialog = new QFileDialog(this, QStringLiteral("Export"), folder + QLatin1Char('/') + name);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setDefaultSuffix(QFileInfo(name).suffix());
    dialog->selectFile(name);
    connect(dialog, &QFileDialog::fileSelected, this,
            [this, choice](const QString& path) { services_.model.exportTo(path.toStdString(), choice); });
    fileDialog_ = dialog;
    dialog->open();
}

void MainWindow::exportAllCurrent() {
    if (services_.model.appState() != AppState::result || services_.model.isExporting()) return;
    auto* dialog = new QFileDialog(this, QStringLiteral("Select a Folder to Save All Files"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    dialog->setLabelText(QFileDialog::Accept, QStringLiteral("Select Folder"));
    connect(dialog, &QFileDialog::fileSelected, this,
            [this](const QString& directory) { services_.model.exportAll(directory.toStdString()); });
    fileDialog_ = dialog;
    dialog->open();
}

void MainWindow::openSong() {
    if (services_.model.appState() != AppState::importFiles) return;
    importScreen_->songDropZone()->openButton()->click();
}

void MainWindow::togglePlayProcessed() {
    if (services_.model.appState() != AppState::result || !services_.batch.hasCurrentFile()) return;
    // The version chosen on the result screen's A/B switch (processed unless the original was chosen).
    resultScreen_->transport().playPause();
}

void MainWindow::dropAnalyzerPanel() {
    if (!analyzerPanel_) return;
    // Deleted later: this may run inside one of the panel's own callbacks.
    analyzerPanel_->hide();
    analyzerSideLayout_->removeWidget(analyzerPanel_);
    analyzerPanel_->deleteLater();
    analyzerPanel_.clear();
}

void MainWindow::showAnalyzerPanel() {
    dropAnalyzerPanel();
    if (!services_.model.showAnalyzerPanel()) {
        analyzerSide_->setVisible(false);
        return;
    }
    MainWindowModel& model = services_.model;
    AnalyzerPanelInputs inputs;
    inputs.initialURL = model.analyzerURL();
    inputs.originalURL = model.analyzerOriginalURL();
    inputs.isMastered = model.analyzerIsMastered();
    inputs.canRepair = true;
    AnalyzerPanelCallbacks callbacks;
    callbacks.onAnalysisCompleted = [&model](const std::filesystem::path& url, AudioAnalysisResult result) {
        model.analysisCompleted(url, std::move(result));
    };
    callbacks.onRepair = [&model] { model.repair(); };
    callbacks.onClose = [&model] { model.closeAnalyzer(); };
    if (services_.batch.hasCurrentFile()) {
        callbacks.onPlayOriginal = [&model] { model.playFromAnalyzer(true); };
        callbacks.onPlayMastered = [&model] { model.playFromAnalyzer(false); };
    }
    analyzerPanel_ = new AnalyzerPanelView(std::move(inputs), std::move(callbacks), services_.pool);
    analyzerPanel_->setTheme(services_.themes.currentTheme());
    analyzerSideLayout_->addWidget(analyzerPanel_);
    analyzerSide_->setVisible(true);
    analyzerPanel_->start();
}

void MainWindow::buildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    QAction* open = file->addAction(QStringLiteral("Open..."), this, &MainWindow::openSong);
    open->setShortcut(QKeySequence::Open);
    QAction* exportAction = file->addAction(QStringLiteral("Export..."), this, &MainWindow::exportCurrent);
    exportAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    file->addAction(QStringLiteral("Export All..."), this, &MainWindow::exportAllCurrent);
    file->addSeparator();
    QAction* quit = file->addAction(QStringLiteral("Quit"), this, &QWidget::close);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    QMenu* playback = menuBar()->addMenu(QStringLiteral("&Playback"));
    QAction* play = playback->addAction(QStringLiteral("Play/Pause"), this, &MainWindow::togglePlayProcessed);
    play->setShortcut(QKeySequence(Qt::Key_Space));

    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    QMenu* themes = view->addMenu(QStringLiteral("Theme"));
    auto* themeGroup = new QActionGroup(this);
    for (const Theme& theme : services_.themes.availableThemes()) {
        QAction* action = themes->addAction(theme.name);
        action->setCheckable(true);
        action->setChecked(theme.id == services_.themes.currentThemeId());
        themeGroup->addAction(action);
        connect(action, &QAction::triggered, this, [this, id = theme.id] { services_.themes.setCurrentThemeId(id); });
    }
    view->addAction(QStringLiteral("Choose Wallpaper..."), this, &MainWindow::chooseWallpaper);
    view->addAction(QStringLiteral("Remove Wallpaper"), &services_.wallpaper, &WallpaperManager::clearWallpaper);
}

void MainWindow::chooseWallpaper() {
    auto* dialog = new QFileDialog(this, QStringLiteral("Choose Wallpaper"),
                                   QStandardPaths::writableLocation(QStandardPaths::PicturesLocation),
                                   QStringLiteral("Images (*.jpg *.jpeg *.png *.tif *.tiff *.heic *.heif)"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& path) {
        try {
            services_.wallpaper.setWallpaperFromFile(path.toStdString());
        } catch (const std::exception&) {
            QMessageBox* box = newMessageBox(QStringLiteral("Wallpaper"),
                                             QStringLiteral("The selected file is not a JPEG, PNG, TIFF, HEIC or HEIF image."));
            box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
            box->open();
        }
    });
    fileDialog_ = dialog;
    dialog->open();
}

} // namespace orvanta
