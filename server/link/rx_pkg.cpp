#include "server/link/rx_pkg.h"

#include "server/model/report_frame.h"

#include <algorithm>
#include <cstring>

namespace {

// The read space of all connections: they are served one at a time.
std::array<std::uint8_t, CRxPkg::kFrameSize - 1 + CRxPkg::kReadChunk> work;

} // namespace

std::uint8_t* CRxPkg::ReadSpace()
{
    std::copy_n(carry_.begin(), carried_, work.begin());
    begin_ = 0;
    end_ = carried_;
    return work.data() + end_;
}

void CRxPkg::Received(std::size_t count) { end_ = std::min(end_ + count, work.size()); }

void CRxPkg::Park()
{
    const std::size_t left = std::min(end_ - begin_, carry_.size());
    std::copy_n(work.begin() + static_cast<std::ptrdiff_t>(end_ - left), left, carry_.begin());
    carried_ = static_cast<std::uint8_t>(left);
    begin_ = end_ = 0;
}

bool CRxPkg::NextFrame()
{
    while (end_ - begin_ >= kFrameSize) {
        const std::uint8_t* candidate = work.data() + begin_;
        if (CReportFrame::Valid(candidate)) {
            std::copy_n(candidate, kFrameSize, data.begin());
            begin_ += kFrameSize;
            return true;
        }
        ++begin_;
    }
    return false;
}
