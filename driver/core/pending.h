// TEMPORARY. Declarations of functions that the driver core calls and whose
// units have not landed yet. Each owner moves its declaration into its own
// header (and includes that where this one is included), then deletes the
// entry here and its placeholder in pending.cpp.
#pragma once

#include "driver/core/context.h"
#include "driver/uga/uga_draw.h"

// Platform interfaces and display nodes (driver/platform).
#include "driver/platform/callbacks.h"
#include "driver/platform/nodes.h"
