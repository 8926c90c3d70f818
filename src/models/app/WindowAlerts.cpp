#include "models/app/WindowAlerts.h"

namespace orvanta {

AlertContent alertContent(AlertType type) {
    const std::vector<AlertButton> ok = {{"OK", AlertButtonRole::cancel}};
    switch (type) {
    case AlertType::fileTooLong:
        return {"File too long",
                "The application only accepts audio files shorter than 15 minutes. Please upload a file with a "
                "shorter duration.",
                ok};
    case AlertType::invalidFileFormat:
        return {"Invalid file format",
                "The selected file is not a valid audio format. Please select a valid audio file.", ok};
    case AlertType::analysisFailed:
        return {"Analysis failed", "Failed to analyze the audio file. Please try with a different file.", ok};
    case AlertType::generalError:
        return {"Error", "An error occurred while processing the file. Please try again.", ok};
    case AlertType::cancelConfirmation:
        return {"Cancel processing?",
                "Are you sure you want to cancel the audio processing? This action cannot be undone.",
                {{"Cancel", AlertButtonRole::destructive}, {"Continue", AlertButtonRole::cancel}}};
    case AlertType::exportError:
        return {"Export error", "An error occurred while exporting the file. Please try again.", ok};
    }
    return {"Error", "An error occurred while processing the file. Please try again.", ok};
}

} // namespace orvanta
