#pragma once

#include <QString>

#include <cstdint>
#include <exception>
#include <string>

// A failed Modbus request, raised only when the master's throwOnError is on.
class CModbusException : public std::exception
{
public:
    CModbusException(std::uint16_t code, QString message);

    virtual const char* className() const { return "CModbusException"; }
    const char* what() const noexcept override { return what_.c_str(); }

    std::uint16_t code;
    QString message;

private:
    std::string what_;
};
