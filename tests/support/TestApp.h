#pragma once

// Models only (QtCore).

#include "models/app/AppContext.h"

namespace orvanta::test {

// The application object a test case builds for itself, as main does: fresh managers over the
// case's preference file (its config folder is emptied before every case) and the null output.
struct TestApp : AppContext {
    TestApp() = default;
};

} // namespace orvanta::test
