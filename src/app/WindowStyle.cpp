#include "app/WindowStyle.h"

namespace orvanta {
namespace {

QString css(ThemeColor argb) {
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg((argb >> 16) & 0xFF)
        .arg((argb >> 8) & 0xFF)
        .arg(argb & 0xFF)
        .arg(QString::number(double((argb >> 24) & 0xFF) / 255.0, 'f', 2));
}

} // namespace

QString windowStyleSheet(const Theme& theme) {
    return QStringLiteral(R"(
QWidget { color: %1; }
QLabel#screenTitle { font-size: 20px; font-weight: 600; }
QLabel#technicalLine, QLabel#presetLabel { color: %2; }
QLabel#savedNotice { color: %3; font-weight: 600; }
QGroupBox { background: %4; border: 1px solid %5; border-radius: 10px; margin-top: 14px; padding: 10px; }
QGroupBox#tile { margin-top: 0; padding: 2px; border-radius: 8px; background: %5; }
QGroupBox::title { subcontrol-origin: margin; left: 12px; padding: 0 4px; color: %2; }
QPushButton { background: %5; border: 1px solid %2; border-radius: 6px; padding: 6px 14px; }
QPushButton:hover { border-color: %6; }
QPushButton:disabled { color: %2; border-color: %5; }
QPushButton:checked { background: %6; color: %7; border-color: %6; }
QPushButton#primaryButton { background: %6; color: %7; border-color: %6; font-weight: 600; }
QPushButton#primaryButton:disabled { background: %5; color: %2; }
QComboBox { background: %5; border: 1px solid %2; border-radius: 6px; padding: 4px 8px; }
QComboBox QAbstractItemView { background: %8; selection-background-color: %6; }
QProgressBar { background: %5; border: none; border-radius: 4px; min-height: 8px; max-height: 8px; }
QProgressBar::chunk { background: %6; border-radius: 4px; }
QListWidget { background: %4; border: none; border-radius: 8px; }
QTableWidget { background: %4; border: none; }
QHeaderView::section { background: %4; color: %2; border: none; border-bottom: 1px solid %5; padding: 4px 6px; }
QMenuBar, QMenu { background: %8; }
QScrollBar:vertical { background: transparent; width: 8px; margin: 0; }
QScrollBar::handle:vertical { background: %5; border-radius: 4px; min-height: 24px; }
QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }
QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }
QMenu::item:selected, QMenuBar::item:selected { background: %6; color: %7; }
QMessageBox, QFileDialog { background: %8; }
)")
        .arg(css(theme.textPrimary), css(theme.textSecondary), css(theme.success), css(theme.cardBackground),
             css(theme.elementBackground), css(theme.accent), css(theme.background), css(theme.backgroundSecondary));
}

} // namespace orvanta
