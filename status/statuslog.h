// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

namespace ravelin {

class StatusQuery;

// The log of report lines, oldest first.
class StatusLog
{
public:
    virtual ~StatusLog() = default;
    virtual int lineCount() const = 0;
    // reason: why the line's word has Printer Error, kept with the line where the user can read
    // it; empty for none. The line itself is the report line as it stands.
    virtual void appendLine(const QString &line, const QString &reason) = 0;
    // Selects the line and scrolls it into view.
    virtual void selectLine(int index) = 0;
    virtual void removeLine(int index) = 0;
};

inline constexpr int StatusLogCapacity = 99;

// The query-and-log action that the query button and every polling tick perform: query, append
// the line, select it, then drop the oldest line if more than 99 stand.
void queryAndLog(StatusQuery &query, StatusLog &log);

} // namespace ravelin
