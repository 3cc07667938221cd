// libFuzzer entry for the polling period reader: any text must give a period in 0..65535,
// without a crash, a hang or undefined behaviour.

#include "pollingperiod.h"

#include <QString>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // Both readings of the bytes: as UTF-8 text, and as UTF-16 code units as typed.
    const QString utf8 = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString utf16(reinterpret_cast<const QChar *>(data), qsizetype(size / 2));
    for (const QString &text : {utf8, utf16}) {
        const int period = ravelin::pollingPeriodFromText(text);
        if (period < 0 || period > ravelin::MaximumPollingPeriod)
            std::abort();
    }
    return 0;
}
