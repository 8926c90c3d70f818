#pragma once

// Models only (QtCore).

class QThreadPool;

namespace orvanta {

// The threads the managers run their long work on (measuring, mastering, analysing, exporting, file
// clean-up), one per core. Kept apart from Qt's global pool, which the GUI's raster painting uses for
// its parallel fills: a paint would otherwise wait for a whole analysis to finish. Created on first
// use; its tasks are awaited when the application object is destroyed. Any thread.
QThreadPool& backgroundPool();

} // namespace orvanta
