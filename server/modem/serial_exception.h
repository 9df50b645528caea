#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

// A failed operation of the server's serial port. It carries the system's
// error code (errno) of the failed call; its text is the system's own
// description of that code.
class CSerialException : public std::exception
{
public:
    explicit CSerialException(std::uint32_t code);

    // Copies the system's text for errorCode into buffer, cut to capacity - 1
    // characters and zero-terminated; sets *helpContext to 0 when given.
    // False, with an empty buffer, when the system has no text for the code.
    bool GetErrorMessage(char16_t* buffer, std::size_t capacity, unsigned* helpContext = nullptr) const;
    // The system's text for errorCode; empty when it has none.
    const QString& Text() const { return text_; }
    // The text, or a general one when the system has none.
    QString Message() const;
    const char* what() const noexcept override;

    std::uint32_t errorCode = 0;

private:
    QString text_;
    std::string what_;
};

// Throws CSerialException with errorCode, or with the calling thread's last
// error (errno) when errorCode is 0.
[[noreturn]] void ThrowSerialException(std::uint32_t errorCode = 0);
