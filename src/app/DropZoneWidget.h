#pragma once

#include "app/ThemedWidget.h"
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QStringList>
#include <QWidget>

namespace orvanta {

// A drop area for audio files: accepts drags of text/uri-list holding local files with an audio
// extension, highlights while such a drag hovers, and emits the dropped audio files' paths. Its
// "Open..." button picks a file with the desktop's file dialog instead. Main thread.
class DropZoneWidget : public ThemedWidget {
    Q_OBJECT

public:
    explicit DropZoneWidget(const QString& prompt = QStringLiteral("Drop audio file here"), QWidget* parent = nullptr);

    // Whether the path names a file with an audio extension (wav, aif, aiff, aifc, flac, mp3, m4a,
    // aac, ogg, oga, opus, caf, mp4, wma).
    static bool isAudioFilePath(const QString& path);
    // The local audio files named by the mime data's URL list, in order.
    static QStringList audioFilePaths(const QMimeData* mime);

    bool isHovering() const { return hovering_; }
    QPushButton* openButton() const { return openButton_; }

    // Whether the mime data names an audio file by a URL that is not a local file.
    static bool hasRemoteAudioUrl(const QMimeData* mime);

signals:
    void filesDropped(QStringList paths);
    // An audio item was dropped that names no local file (a remote URL): nothing can be opened.
    void dropFailed();
    void hoverChanged(bool hovering);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void setHovering(bool hovering);
    void openFile();

    QLabel* prompt_;
    QPushButton* openButton_;
    bool hovering_ = false;
};

} // namespace orvanta
