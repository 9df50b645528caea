#pragma once

#include "sim/report_frame_writer.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <span>

// What the emulated controllers send over GPRS: who they are, what their
// frames carry, how often, and the faults to commit on the byte stream.
struct T_GPRSPLAN
{
    static constexpr std::uint32_t kMaxControllers = 65536;  // one TCP connection each
    static constexpr int kMaxIntervalMs = 24 * 3600 * 1000;
    static constexpr int kMaxPrintedFrames = 1000000;        // SMS lines printed by one run

    QString host = QStringLiteral("127.0.0.1");
    std::uint16_t port = 0;

    std::uint32_t serialBase = 1;     // controller i has serial serialBase + i
    std::uint32_t controllers = 1;
    std::uint16_t firstSequence = 1;  // per controller, incremented per frame (wrapping)
    std::uint32_t count = 1;          // frames per controller; 0 = until stopped
    int intervalMs = 1000;            // between frames (between writes when joining)
    bool spread = false;              // stagger the controllers' first frames over one interval

    std::uint16_t flags = 0;
    bool alternate = false;           // odd frames carry alarmFlags instead of flags
    std::uint16_t alarmFlags = CReportFrameWriter::kShock;
    std::array<std::uint8_t, 8> key{};
    QString balance;
    std::uint8_t versionMajor = 1;
    std::uint8_t versionMinor = 0;
    std::uint16_t temperature1 = 0;   // raw; 0 = no sensor
    std::uint16_t temperature2 = 0;
    std::uint16_t light = 0;

    bool split = false;               // each frame in two writes of 32 bytes
    int splitGapMs = 0;               // pause between the two halves
    bool join = false;                // two frames in one write
    int corruptByte = -1;             // >= 0: invert this byte after the CRC is sealed
    std::uint32_t corruptEvery = 1;   // ... in every n-th frame of a controller (the n-th, 2n-th, ...)

    int maxConnecting = 256;          // connection attempts in flight at once
    int connectTimeoutMs = 10000;
    int holdMs = 0;                   // keep connections open this long after the last frame; -1 until stopped

    bool printSms = false;            // print the SMS texts of the frames instead of connecting
};

// The frame that controller `serial` sends as its frame number `index`
// (0-based), with the sequence number that index gives.
CReportFrameWriter::Frame MakeReportFrame(const T_GPRSPLAN& plan, std::uint32_t serial, std::uint64_t index);

// The bytes written for that frame: the frame, corrupted when the plan says so.
CReportFrameWriter::Frame FrameBytes(const T_GPRSPLAN& plan, std::uint32_t serial, std::uint64_t index);

// The SMS text of a frame: its 64 bytes as 128 capital hexadecimal digits.
QByteArray ReportSmsText(std::span<const std::uint8_t, CReportFrameWriter::kSize> frame);

// Reads the plan from the program's arguments (arguments[0] is the program).
enum class PlanStatus { Run, Help, Error };
struct T_PLANPARSE
{
    PlanStatus status = PlanStatus::Error;
    T_GPRSPLAN plan;
    QString text;  // the help text, or what was wrong
};
T_PLANPARSE ParseGprsPlan(const QStringList& arguments);
