#include "server/link/rx_pkg.h"

#include "common/crc16.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kCrcOffset = 62;

bool ValidFrame(const std::uint8_t* bytes)
{
    return Crc16Modbus(std::span<const std::uint8_t>(bytes, kCrcOffset)) == LoadCrcHighFirst(bytes + kCrcOffset);
}

} // namespace

void CRxPkg::Compact()
{
    if (begin_ == 0)
        return;
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
}

std::uint8_t* CRxPkg::ReadSpace()
{
    Compact();
    return buffer_.data() + end_;
}

void CRxPkg::Received(std::size_t count) { end_ = std::min(end_ + count, buffer_.size()); }

bool CRxPkg::NextFrame()
{
    while (end_ - begin_ >= kFrameSize) {
        const std::uint8_t* candidate = buffer_.data() + begin_;
        if (ValidFrame(candidate)) {
            std::copy_n(candidate, kFrameSize, data.begin());
            begin_ += kFrameSize;
            return true;
        }
        ++begin_;
    }
    return false;
}
