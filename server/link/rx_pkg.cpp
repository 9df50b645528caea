#include "server/link/rx_pkg.h"

#include <algorithm>
#include <span>

namespace {

// The read space of all connections: they are served one at a time, so the
// bytes being cut and where the cutting stands live here, not in each
// connection.
struct Work
{
    std::array<std::uint8_t, CRxPkg::kMaxPending + CRxPkg::kReadChunk> bytes;
    std::size_t begin = 0;
    std::size_t end = 0;
};
Work work;

} // namespace

std::uint8_t* CRxPkg::ReadSpace()
{
    std::copy_n(carry_.begin(), carried_, work.bytes.begin());
    work.begin = 0;
    work.end = carried_;
    return work.bytes.data() + work.end;
}

void CRxPkg::Received(std::size_t count) { work.end = std::min(work.end + count, work.bytes.size()); }

bool CRxPkg::NextFrame(const KnownSerial& known, bool streamEnded)
{
    const std::span<const std::uint8_t> gathered(work.bytes.data() + work.begin, work.end - work.begin);
    const CStreamFramer::T_CUT cut = framer_.Next(gathered, known, streamEnded);
    work.begin += cut.consumed;
    if (cut.status != CStreamFramer::CutStatus::Frame)
        return false;
    std::copy_n(work.bytes.begin() + static_cast<std::ptrdiff_t>(work.begin - kFrameSize), kFrameSize, data.begin());
    return true;
}

void CRxPkg::Park()
{
    const std::size_t left = std::min(work.end - work.begin, carry_.size());
    std::copy_n(work.bytes.begin() + static_cast<std::ptrdiff_t>(work.end - left), left, carry_.begin());
    carried_ = static_cast<std::uint8_t>(left);
    work.begin = work.end = 0;
}
