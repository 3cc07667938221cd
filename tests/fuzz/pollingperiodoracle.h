// SPDX-License-Identifier: MIT
#pragma once

#include <QStringView>

// A second reader of polling periods, written from the rules for the interval box's text rather
// than from the program's reader, for the fuzz target to hold the program's reader against. It
// is meant to be plain, not fast.
int referencePollingPeriod(QStringView text);
