#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <vector>

class CControllerRegisters;

// Faults the emulated controller can be told to commit, for tests.
struct T_SLAVEFAULTS
{
    bool silent = false;          // answer nothing
    bool wrongAddress = false;    // answer as slave address + 1
    bool badCrc = false;          // send a wrong CRC
    int shortReply = 0;           // > 0: send only this many bytes of each reply
    std::uint8_t exceptionCode = 0;  // != 0: answer every request with this exception
    bool firstBlockOnly = false;  // leave reads of holding registers 64 .. 127 unanswered
    int functionByte = -1;        // >= 0: the function byte of every reply (CRC made to match)
    int byteCountDelta = 0;       // added to the byte count of read replies
    int cutReply = 0;             // > 0: cut each reply to this many bytes, then add a correct CRC
};

// Where a request frame ends, found from its own bytes.
enum class FrameStatus { Incomplete, Complete };
struct T_FRAMEEND
{
    FrameStatus status = FrameStatus::Incomplete;
    std::size_t length = 0;  // bytes of the frame with its CRC, when Complete
};
// Functions 3 and 4 are 8 bytes, function 16 is 9 plus its byte count; the
// end of any other function is known only from the silence after it.
T_FRAMEEND FindRequestEnd(std::span<const std::uint8_t> bytes);

// The controller's side of Modbus RTU: slave 1 answering functions 3, 4 and
// 16 from its registers, with the standard exception replies.
class CModbusSlave
{
public:
    static constexpr std::size_t kMaxFrame = 256;   // the longest RTU frame

    explicit CModbusSlave(CControllerRegisters& registers, std::uint8_t address = 1);

    // The reply to one whole frame (with its CRC); empty when nothing is
    // sent back: a bad CRC, another slave, a broadcast, or a fault.
    std::vector<std::uint8_t> Answer(std::span<const std::uint8_t> frame);

    void SetFaults(const T_SLAVEFAULTS& faults);
    T_SLAVEFAULTS Faults() const;

    // Frames with a good CRC addressed to this slave, answered or not.
    std::uint64_t RequestCount() const { return requests_; }
    std::vector<std::uint8_t> LastRequest() const;
    // Called after every accepted write, on the serving thread.
    void SetWriteHook(std::function<void()> hook);

    // Serves requests on fd until stopFd becomes readable. A frame whose end
    // its bytes do not tell ends after frameGapMs of silence. False when the
    // line fails.
    bool Serve(int fd, int stopFd, int frameGapMs);

private:
    std::vector<std::uint8_t> Pdu(std::span<const std::uint8_t> frame, bool* wrote);

    CControllerRegisters& registers_;
    const std::uint8_t address_;
    mutable std::mutex mutex_;
    T_SLAVEFAULTS faults_;
    std::vector<std::uint8_t> lastRequest_;
    std::function<void()> writeHook_;
    std::atomic<std::uint64_t> requests_{0};
};
