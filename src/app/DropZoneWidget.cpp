#include "app/DropZoneWidget.h"

#include "app/ThemeColors.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QPainter>
#include <QUrl>
#include <QVBoxLayout>

namespace orvanta {

DropZoneWidget::DropZoneWidget(const QString& prompt, QWidget* parent)
    : ThemedWidget(parent), prompt_(new QLabel(prompt, this)), openButton_(new QPushButton(QStringLiteral("Open..."), this)) {
    setAcceptDrops(true);
    setMinimumSize(200, 120);
    prompt_->setAlignment(Qt::AlignCenter);
    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addWidget(prompt_);
    layout->addWidget(openButton_, 0, Qt::AlignHCenter);
    layout->addStretch();
    connect(openButton_, &QPushButton::clicked, this, &DropZoneWidget::openFile);
}

bool DropZoneWidget::isAudioFilePath(const QString& path) {
    static const QStringList extensions = {"wav", "aif", "aiff", "aifc", "flac", "mp3", "m4a",
                                           "aac", "ogg", "oga", "opus", "caf", "mp4", "wma"};
    return extensions.contains(QFileInfo(path).suffix().toLower());
}

QStringList DropZoneWidget::audioFilePaths(const QMimeData* mime) {
    QStringList paths;
    if (mime == nullptr || !mime->hasUrls()) {
        return paths;
    }
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile() && isAudioFilePath(url.toLocalFile())) {
            paths.append(url.toLocalFile());
        }
    }
    return paths;
}

bool DropZoneWidget::hasRemoteAudioUrl(const QMimeData* mime) {
    if (mime == nullptr || !mime->hasUrls()) return false;
    for (const QUrl& url : mime->urls())
        if (!url.isLocalFile() && isAudioFilePath(url.path())) return true;
    return false;
}

void DropZoneWidget::dragEnterEvent(QDragEnterEvent* event) {
    if (audioFilePaths(event->mimeData()).isEmpty() && !hasRemoteAudioUrl(event->mimeData())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    setHovering(true);
}

void DropZoneWidget::dragLeaveEvent(QDragLeaveEvent* event) {
    setHovering(false);
    QWidget::dragLeaveEvent(event);
}

void DropZoneWidget::dropEvent(QDropEvent* event) {
    setHovering(false);
    const QStringList paths = audioFilePaths(event->mimeData());
    if (paths.isEmpty()) {
        if (hasRemoteAudioUrl(event->mimeData())) {
            event->acceptProposedAction();
            emit dropFailed();
            return;
        }
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit filesDropped(paths);
}

void DropZoneWidget::setHovering(bool hovering) {
    if (hovering_ != hovering) {
        hovering_ = hovering;
        update();
        emit hoverChanged(hovering);
    }
}

void DropZoneWidget::openFile() {
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Open..."), QString(),
        QStringLiteral("Audio files (*.wav *.aif *.aiff *.aifc *.flac *.mp3 *.m4a *.aac *.ogg *.oga *.opus *.caf *.mp4 "
                       "*.wma);;All files (*)"));
    if (!path.isEmpty() && isAudioFilePath(path)) {
        emit filesDropped({path});
    }
}

void DropZoneWidget::paintEvent(QPaintEvent*) {
    const Theme& theme = this->theme();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(2, 2, -2, -2);
    painter.setBrush(themeColor(hovering_ ? theme.elementBackground : theme.cardBackground));
    painter.setPen(QPen(themeColor(hovering_ ? theme.accent : theme.textSecondary), 2, Qt::DashLine));
    painter.drawRoundedRect(area, 12, 12);
}

} // namespace orvanta
