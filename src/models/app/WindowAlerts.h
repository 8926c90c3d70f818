#pragma once

// Plain C++: the screens and alerts of the main window.

#include <array>
#include <string_view>
#include <vector>

namespace orvanta {

// The screen the window shows, in workflow order.
enum class AppState { importFiles, processing, result };

// The alerts the window can raise. Each overlays the current screen and leaves AppState unchanged.
enum class AlertType { fileTooLong, invalidFileFormat, analysisFailed, generalError, cancelConfirmation, exportError };

// How a button of an alert behaves when the view draws it.
enum class AlertButtonRole { normal, destructive, cancel };

struct AlertButton {
    std::string_view label;
    AlertButtonRole role = AlertButtonRole::normal;
};

// What the view shows for one alert: title, message and buttons in order.
struct AlertContent {
    std::string_view title;
    std::string_view message;
    std::vector<AlertButton> buttons;
};

// The texts and buttons of `type` ("OK" alone for every alert but the cancel confirmation,
// which offers "Cancel" (destructive, resets the application) and "Continue" (cancel role)). Any thread.
AlertContent alertContent(AlertType type);

// The export selection asked before saving one file.
inline constexpr std::string_view exportSelectionTitle = "Export Selection";
inline constexpr std::string_view exportSelectionMessage = "Which version would you like to export?";
inline constexpr std::string_view exportMasterButton = "Export MASTER";
inline constexpr std::string_view exportFinalButton = "Export FINAL";
inline constexpr std::string_view exportCancelButton = "Cancel";

// The version the user chose to export.
enum class ExportChoice { master, final };

} // namespace orvanta
