#include "tool/modbus/modbus_exception.h"

CModbusException::CModbusException(std::uint16_t code, QString message)
    : code(code), message(std::move(message)), what_(this->message.toStdString())
{
}
