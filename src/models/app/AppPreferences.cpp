#include "models/app/AppPreferences.h"

#include "models/batch/AudioSettingsManager.h"
#include "platform/PreferenceStore.h"

namespace orvanta {

MasteringPreferences readMasteringPreferences(PreferenceStore& store) {
    // A value of another type counts as absent, so it is replaced by the default like a missing one.
    if (!store.floatValue(targetLoudnessKey)) {
        store.setFloat(targetLoudnessKey, defaultTargetLoudness);
    }
    if (!store.floatValue(limitThresholdKey)) {
        store.setFloat(limitThresholdKey, defaultLimitThreshold);
    }
    return {store.floatValue(targetLoudnessKey).value_or(defaultTargetLoudness),
            store.floatValue(limitThresholdKey).value_or(defaultLimitThreshold)};
}

bool readShowReport(const PreferenceStore& store) { return store.boolValue(showReportKey).value_or(true); }

void storeShowReport(PreferenceStore& store, bool showReport) { store.setBool(showReportKey, showReport); }

} // namespace orvanta
