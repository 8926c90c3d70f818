#pragma once

// Models only (QtCore).

#include <QThreadPool>

namespace orvanta {

// The threads the managers run their long work on (measuring, mastering, analysing, exporting, file
// clean-up), one per core. Kept apart from Qt's global pool, which the GUI's raster painting uses for
// its parallel fills: a paint would otherwise wait for a whole analysis to finish. The application
// object owns one and hands it to the models and views that post work; destroying it waits for the
// tasks. Any thread may post.
class BackgroundPool : public QThreadPool {
public:
    BackgroundPool();
};

} // namespace orvanta
