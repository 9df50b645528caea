#include "server/modem/serial_exception.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// What is shown when the system has no text for a code.
const QString kNoText = QStringLiteral("Сообщение об ошибке недоступно.");

// The system's text for an error code, in the language of the program's
// locale; empty when the code is not one the system knows.
QString SystemText(std::uint32_t code)
{
    const int value = static_cast<int>(code);
    if (code > static_cast<std::uint32_t>(INT32_MAX) || ::strerrordesc_np(value) == nullptr)
        return {};
    char buffer[256] = {};
    // The GNU strerror_r returns its text, in the buffer or elsewhere.
    return QString::fromLocal8Bit(::strerror_r(value, buffer, sizeof buffer));
}

} // namespace

CSerialException::CSerialException(std::uint32_t code)
    : errorCode(code), text_(SystemText(code)), what_(Message().toLocal8Bit().toStdString())
{
}

bool CSerialException::GetErrorMessage(char16_t* buffer, std::size_t capacity, unsigned* helpContext) const
{
    if (helpContext)
        *helpContext = 0;
    if (buffer == nullptr || capacity == 0)
        return !text_.isEmpty();
    const std::size_t length = std::min(static_cast<std::size_t>(text_.size()), capacity - 1);
    std::copy_n(text_.utf16(), length, buffer);
    buffer[length] = u'\0';
    return !text_.isEmpty();
}

QString CSerialException::Message() const { return text_.isEmpty() ? kNoText : text_; }

const char* CSerialException::what() const noexcept { return what_.c_str(); }

void ThrowSerialException(std::uint32_t errorCode)
{
    throw CSerialException(errorCode != 0 ? errorCode : static_cast<std::uint32_t>(errno));
}
