// SPDX-License-Identifier: MIT
#pragma once

#include <QLoggingCategory>

namespace ravelin {

// "ravelin.status": a debug line for each query with the word it got, and an info line whenever
// the reason for Printer Error changes. Both are off unless enabled by the logging rules, for
// instance QT_LOGGING_RULES="ravelin.status=true" for both, or "ravelin.status.info=true" for the
// reasons alone; they go where the program's messages go (standard error, or the journal).
Q_DECLARE_LOGGING_CATEGORY(statusLogging)

} // namespace ravelin
