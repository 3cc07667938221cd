// SPDX-License-Identifier: MIT
#include "statuslog.h"

#include "statusquery.h"

namespace ravelin {

void queryAndLog(StatusQuery &query, StatusLog &log)
{
    const QString line = query.RetreivePrinterStatus();
    log.appendLine(line, query.reason());
    log.selectLine(log.lineCount() - 1);
    if (log.lineCount() > StatusLogCapacity)
        log.removeLine(0);
}

} // namespace ravelin
