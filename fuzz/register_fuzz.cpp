// Any bytes as a register file: the reader must not crash nor allocate
// beyond the data, and whatever it accepts must be written back the same.
#include "common/manual_clock.h"
#include "server/model/point_base.h"
#include "server/storage/register_file.h"

#include <QDir>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static CManualClock clock(0);
    static CPointBase base(clock, QDir::tempPath());
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    RegisterParseResult parsed = ParseRegister(bytes);
    if (!parsed.ok)
        return 0;
    auto& c = parsed.contents;
    base.ReplaceRegister(c.serials, c.names, c.descriptions, c.phones);
    const RegisterParseResult again = ParseRegister(SerializeRegister(base));
    if (!again.ok || again.contents.serials != c.serials || again.contents.names != c.names
        || again.contents.descriptions != c.descriptions || again.contents.phones != c.phones)
        std::abort();
    return 0;
}
