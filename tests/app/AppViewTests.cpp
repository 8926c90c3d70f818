// The drawn views render offscreen (QT_QPA_PLATFORM=offscreen) on empty and full data, and the drop
// zone takes audio files only.
#include "analyzer/Spectrogram.h"
#include "app/AnalyzerPanelView.h"
#include "app/DropZoneWidget.h"
#include "app/EqCurveView.h"
#include "app/MeterBar.h"
#include "app/ScoreRing.h"
#include "app/SpectrogramView.h"
#include "app/SpectrogramView.h"
#include "app/SpectrumBarsView.h"
#include "app/ThemeColors.h"
#include "app/VectorscopeView.h"
#include "models/engine/BackgroundPool.h"
#include "models/app/ThemeManager.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QImage>
#include <QMimeData>
#include <QSignalSpy>
#include <QUrl>

#include "support/QtWait.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cmath>

namespace orvanta {
namespace {

QImage renderOf(QWidget& widget, QSize size) {
    widget.resize(size);
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::magenta);
    widget.render(&image);
    return image;
}

// Views paint in the default theme until the window gives them another.
const Theme& defaultTheme() { return *findTheme(QString::fromUtf8(defaultThemeId)); }
QColor background() { return themeColor(defaultTheme().cardBackground); }

// Two columns of 4 bins: a ramp from the lowest to the highest value.
SpectrogramData rampSpectrogram() {
    SpectrogramData data;
    data.timeBins = {0.0, 0.5};
    data.frequencyBins = {0.0, 1000.0, 2000.0, 3000.0};
    data.magnitudes = {{-100.0f, -60.0f, -20.0f, 0.0f}, {-100.0f, -100.0f, -100.0f, -100.0f}};
    data.minDB = -100.0f;
    data.maxDB = 0.0f;
    return data;
}

TEST(SpectrogramView, DrawsTheColourMapWithLowFrequenciesAtTheBottom) {
    BackgroundPool pool;
    SpectrogramView view(pool);
    QImage empty = renderOf(view, {300, SpectrogramView::viewHeight});
    EXPECT_EQ(empty.pixelColor(150, 50), themeColor(defaultTheme().elementBackground));

    // Rendered on the background pool; the image arrives through the event loop, once per grid.
    QSignalSpy ready(&view, &SpectrogramView::imageReady);
    view.setData(rampSpectrogram());
    EXPECT_TRUE(view.isRendering());
    ASSERT_TRUE(ready.wait(5000));
    ASSERT_EQ(view.image().size(), QSize(2, 4));
    view.setData(rampSpectrogram());
    EXPECT_FALSE(view.isRendering()) << "the same grid is not rendered again";
    EXPECT_EQ(ready.count(), 1);
    const QImage image = renderOf(view, {300, SpectrogramView::viewHeight});
    const QRect area = view.imageRect();
    // Column 0: top row is bin 3 (0 dB → the brightest colour), bottom row bin 0 (−100 dB → the darkest).
    const QPoint topLeft(area.left() + area.width() / 4, area.top() + area.height() / 8);
    const QPoint bottomLeft(area.left() + area.width() / 4, area.bottom() - area.height() / 8);
    const QPoint topRight(area.right() - area.width() / 4, area.top() + area.height() / 8);
    EXPECT_EQ(image.pixelColor(topLeft), QColor(255, 255, 100));
    EXPECT_EQ(image.pixelColor(bottomLeft), QColor(13, 0, 38));
    EXPECT_EQ(image.pixelColor(topRight), QColor(13, 0, 38));
}

TEST(VectorscopeView, PaintsDotsOnlyWhenThereAreSamples) {
    VectorscopeView view;
    const QImage empty = renderOf(view, {200, 100});
    EXPECT_EQ(view.dotCount(), 0);
    EXPECT_EQ(renderOf(view, {200, 100}), empty); // nothing but the grid

    QList<float> left, right;
    for (int i = 0; i < 128; ++i) {
        left.append(0.5f);
        right.append(i % 2 ? 0.5f : 3.0f); // beyond ±1 is drawn on the edge
    }
    view.showSamples(left, right);
    EXPECT_EQ(view.dotCount(), 128);
    const QImage full = renderOf(view, {200, 100});
    int changed = 0;
    for (int y = 0; y < full.height(); ++y)
        for (int x = 0; x < full.width(); ++x) changed += full.pixel(x, y) != empty.pixel(x, y);
    EXPECT_GT(changed, 0);
    // Points fold into the upper half: the row below the centre line stays untouched.
    for (int x = 0; x < full.width(); ++x) EXPECT_EQ(full.pixel(x, 99), empty.pixel(x, 99));

    view.showSamples({}, {});
    EXPECT_EQ(renderOf(view, {200, 100}), empty);
}

TEST(VectorscopeView, CorrelationIsOneForMonoMinusOneOutOfPhaseAndNoneForASilentSide) {
    QList<float> signal, inverted, silent;
    for (int i = 0; i < 128; ++i) {
        signal.append(float(std::sin(i * 0.3)) * 0.5f);
        inverted.append(-signal.back());
        silent.append(0.0f);
    }
    EXPECT_NEAR(*VectorscopeView::stereoCorrelation(signal, signal), 1.0, 1e-9);
    EXPECT_NEAR(*VectorscopeView::stereoCorrelation(signal, inverted), -1.0, 1e-9);
    EXPECT_FALSE(VectorscopeView::stereoCorrelation(signal, silent).has_value());
    VectorscopeView view;
    view.showSamples(signal, inverted);
    ASSERT_TRUE(view.correlation().has_value());
    EXPECT_NEAR(*view.correlation(), -1.0, 1e-9);
}

TEST(SpectrumBarsView, DrawsTwelveBarsPerSeriesScaledToTen) {
    SpectrumBarsView view;
    view.resize(360, 114);
    const QImage empty = renderOf(view, {360, 114});
    EXPECT_EQ(empty.pixelColor(5, 5), background());
    EXPECT_DOUBLE_EQ(view.barRect(0, 0).height(), 0.0);

    QVector<float> original(12, 5.0f), mastered(12, 10.0f), reference(12, 20.0f);
    reference[3] = std::numeric_limits<float>::quiet_NaN();
    view.setSpectra(original, mastered, reference);
    EXPECT_DOUBLE_EQ(view.barRect(0, 0).height(), 50.0);
    EXPECT_DOUBLE_EQ(view.barRect(11, 1).height(), 100.0);
    EXPECT_DOUBLE_EQ(view.barRect(4, 2).height(), 100.0); // clamped to the scale
    EXPECT_DOUBLE_EQ(view.barRect(3, 2).height(), 0.0);   // NaN draws nothing
    const QImage full = renderOf(view, {360, 114});
    const QPointF inMastered = view.barRect(5, 1).center();
    EXPECT_EQ(full.pixelColor(inMastered.toPoint()), themeColor(defaultTheme().primary));
}

bool dropAccepted(DropZoneWidget& zone, const QList<QUrl>& urls) {
    QMimeData mime;
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&zone, &enter);
    if (!enter.isAccepted()) {
        return false;
    }
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&zone, &drop);
    return drop.isAccepted();
}

TEST(DropZoneWidget, AcceptsLocalAudioFilesOnly) {
    DropZoneWidget zone;
    zone.resize(300, 200);
    QSignalSpy dropped(&zone, &DropZoneWidget::filesDropped);
    QSignalSpy failed(&zone, &DropZoneWidget::dropFailed);
    QSignalSpy hovered(&zone, &DropZoneWidget::hoverChanged);

    EXPECT_FALSE(dropAccepted(zone, {QUrl::fromLocalFile("/music/notes.txt")}));
    EXPECT_EQ(hovered.count(), 0);
    // An audio item that is no local file is taken, and reported as a failed drop.
    EXPECT_TRUE(dropAccepted(zone, {QUrl("https://example.com/song.wav")}));
    EXPECT_EQ(failed.count(), 1);
    EXPECT_EQ(dropped.count(), 0);
    hovered.clear();

    EXPECT_TRUE(dropAccepted(zone, {QUrl::fromLocalFile("/music/notes.txt"), QUrl::fromLocalFile("/music/Song.WAV")}));
    ASSERT_EQ(dropped.count(), 1);
    EXPECT_EQ(dropped.at(0).at(0).toStringList(), QStringList{"/music/Song.WAV"});
    EXPECT_EQ(hovered.count(), 2); // highlighted on enter, cleared on drop
    EXPECT_FALSE(zone.isHovering());
    EXPECT_EQ(zone.openButton()->text(), "Open...");
    EXPECT_FALSE(renderOf(zone, {300, 200}).isNull());
}

TEST(AnalyzerPanelView, ShowsTheDropZoneThenTheAnalysedFiguresAndReportsOnce) {
    BackgroundPool pool;
    const auto song = test::scratchPath("song.wav");
    test::writeWav(song, test::replicate(test::sine(440.0, 0.5, 44100.0, 44100 * 3), 2), 44100.0);
    int reports = 0;
    AnalyzerPanelCallbacks callbacks;
    callbacks.onAnalysisCompleted = [&](const std::filesystem::path&, const AudioAnalysisResult&) { ++reports; };
    AnalyzerPanelView panel(AnalyzerPanelInputs{song, std::nullopt, false, true}, callbacks, pool);
    panel.resize(480, 640);
    EXPECT_FALSE(renderOf(panel, {480, 640}).isNull()); // idle: the drop zone
    panel.start();
    QElapsedTimer clock;
    clock.start();
    while ((panel.controller().viewModel().state().kind != AnalyzerViewModel::StateKind::completed ||
            panel.controller().viewModel().result()->analysisDetails.truePeakDB <= -100.0) &&
           clock.elapsed() < 60000) {
        test::processEventsFor(20);
    }
    ASSERT_EQ(panel.controller().viewModel().state().kind, AnalyzerViewModel::StateKind::completed);
    EXPECT_EQ(reports, 1);
    const QString text = panel.summaryText();
    EXPECT_TRUE(text.contains("Best for: ")) << text.toStdString();
    EXPECT_TRUE(text.contains("TRUE PEAK -6.0")) << text.toStdString(); // 0.5 full scale
    EXPECT_TRUE(text.contains("PA System ")) << text.toStdString();
    EXPECT_TRUE(test::becomes([&] { return !panel.spectrogramView()->image().isNull(); }, 5000))
        << "rendered with the analysis, reduced for drawing on the pool";
    // Repair is offered: its EQ curve is worked out in the background and drawn before "MASTERING?".
    ASSERT_NE(panel.repairCurve(), nullptr);
    ASSERT_TRUE(test::becomes([&] { return panel.controller().repairPreviewEQ().has_value(); }, 20000));
    EXPECT_FALSE(panel.repairCurve()->isHidden());
    EXPECT_EQ(panel.repairCurve()->settings(), panel.controller().repairPreviewEQ());
    EXPECT_FALSE(panel.repairCurve()->curve().empty());
    EXPECT_FALSE(renderOf(panel, {480, 640}).isNull());
}

TEST(EqCurveView, DrawsABandAtItsCentreAndScalesToTheCurve) {
    EqCurveView view(QStringLiteral("Matched EQ"));
    EXPECT_TRUE(view.curve().empty());
    EXPECT_FALSE(renderOf(view, {280, 110}).isNull()); // "No EQ"
    EQSettings eq = defaultEQSettings();
    eq.bands[5].gain = 6.0f; // the 1 kHz band, Q 1
    view.setSettings(eq);
    ASSERT_FALSE(view.curve().empty());
    const auto nearest = [&](double hz) {
        QPointF best = view.curve().front();
        for (const QPointF& point : view.curve())
            if (std::fabs(std::log(point.x() / hz)) < std::fabs(std::log(best.x() / hz))) best = point;
        return best;
    };
    EXPECT_NEAR(nearest(1000.0).y(), 6.0, 0.1) << "a peaking band's gain at its centre";
    EXPECT_NEAR(nearest(20.0).y(), 0.0, 0.1) << "and nothing six octaves away";
    EXPECT_NEAR(nearest(20000.0).y(), 0.0, 0.2);
    EXPECT_EQ(view.scaleDb(), 6.0);
    eq.bands[0].gain = -8.0f; // a deeper cut widens the frame to the next 3 dB step
    eq.masterGain = 0.5f;
    view.setSettings(eq);
    EXPECT_EQ(view.scaleDb(), 9.0);
    EXPECT_NEAR(nearest(20000.0).y(), 0.5, 0.2) << "the master gain lifts the whole curve";
    view.setSettings(std::nullopt);
    EXPECT_TRUE(view.curve().empty());
}

TEST(AnalyzerPanelView, BarsShowTheMasteredScoresWithTheOriginalsAsMarkers) {
    BackgroundPool pool;
    // An original with little side signal and a louder "master" with more: different figures to tell
    // the bars, the markers and the tiles apart.
    const auto original = test::scratchPath("original.wav");
    const auto mastered = test::scratchPath("mastered.wav");
    const auto tone = test::sine(220.0, 0.2, 44100.0, 44100 * 3);
    const auto other = test::sine(3300.0, 0.1, 44100.0, 44100 * 3);
    std::vector<float> left(tone), right(tone), wideLeft(tone), wideRight(tone);
    for (size_t i = 0; i < tone.size(); ++i) {
        right[i] = 0.9f * tone[i];
        wideLeft[i] = 2.0f * tone[i] + other[i];
        wideRight[i] = 0.5f * tone[i] - other[i];
    }
    test::writeWav(original, {left, right}, 44100.0);
    test::writeWav(mastered, {wideLeft, wideRight}, 44100.0);
    AnalyzerPanelView panel(AnalyzerPanelInputs{mastered, original, true, true}, {}, pool);
    panel.resize(460, 760);
    panel.start();
    const AnalyzerViewModel& model = panel.controller().viewModel();
    QElapsedTimer clock;
    clock.start();
    while ((model.state().kind != AnalyzerViewModel::StateKind::completed ||
            model.result()->analysisDetails.truePeakDB <= -100.0) && clock.elapsed() < 60000)
        test::processEventsFor(20);
    ASSERT_EQ(model.state().kind, AnalyzerViewModel::StateKind::completed);
    ASSERT_TRUE(panel.controller().sessionStore().baseline().has_value());
    const AudioAnalysisResult& after = *model.result();
    const AudioAnalysisResult& before = *panel.controller().sessionStore().baseline();

    const auto percent = [](double fraction) { return QString::number(std::lround(fraction * 100.0)) + "%"; };
    const std::pair<const char*, std::pair<double, double>> scores[] = {
        {"Warmth", {after.warmth, before.warmth}},
        {"Clarity", {after.clarity, before.clarity}},
        {"Dynamics", {after.dynamics, before.dynamics}},
        {"Space", {after.spaciousness, before.spaciousness}},
        {"Mid", {after.analysisDetails.midEnergyRatio, before.analysisDetails.midEnergyRatio}},
        {"Side", {after.analysisDetails.sideEnergyRatio, before.analysisDetails.sideEnergyRatio}},
    };
    for (const auto& [label, figures] : scores) {
        MeterBar* meter = panel.bar(label);
        ASSERT_NE(meter, nullptr) << label;
        EXPECT_DOUBLE_EQ(meter->value(), figures.first) << label;
        ASSERT_TRUE(meter->baseline().has_value()) << label;
        EXPECT_DOUBLE_EQ(*meter->baseline(), figures.second) << label;
        EXPECT_EQ(meter->valueText(), percent(figures.first) + " (" + percent(figures.second) + ")") << label;
    }
    EXPECT_NE(panel.bar("Side")->value(), panel.bar("Side")->baseline().value()) << "the two files differ in width";
    EXPECT_EQ(panel.bar("Laptop")->valueText(), percent(after.macBookScore));
    EXPECT_EQ(panel.bar("PA System")->valueText(), percent(after.paSystemScore));
    EXPECT_EQ(panel.scoreRing()->scoreText(), QString::number(std::lround(after.overallScore)));
    EXPECT_EQ(panel.tileText("LUFS"), QString::asprintf("%.1f", after.analysisDetails.lufsIntegrated));
    EXPECT_EQ(panel.tileText("TRUE PEAK"), QString::asprintf("%.1f", after.analysisDetails.truePeakDB));
    EXPECT_EQ(panel.tileText("SHORT TERM"), QString::asprintf("%.1f", after.analysisDetails.lufsShortTermMax));
    EXPECT_TRUE(panel.summaryText().contains("Best for: " + QString::fromStdString(after.analysisDetails.recommendedUseCase)));

    // "BEFORE" shows the original's figures.
    panel.controller().setComparisonMode(ComparisonMode::before);
    EXPECT_DOUBLE_EQ(panel.bar("Warmth")->value(), before.warmth);
    EXPECT_EQ(panel.tileText("LUFS"), QString::asprintf("%.1f", before.analysisDetails.lufsIntegrated));
}

} // namespace
} // namespace orvanta
