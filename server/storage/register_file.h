#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

class CPointBase;

// The point register file "SerialBase.base" in the base folder:
//   u32 count N, N × u32 serial numbers, then three string lists (names,
//   descriptions, phones). A string list is an element count (u16, or FFFF
//   and u32) followed by its strings. A string is written as FF FE FF, its
//   length in UTF-16 units (u8 below 255; else FF and u16 below FFFE; else
//   FF FF FF and u32) and the UTF-16LE units; a string without the FF FE FF
//   marker holds single-byte (Latin-1) characters. Little-endian throughout.

struct RegisterContents
{
    std::vector<std::uint32_t> serials;
    std::vector<QString> names;
    std::vector<QString> descriptions;
    std::vector<QString> phones;
};

struct RegisterParseResult
{
    bool ok = true;
    // What was read up to the point where the data ended or went wrong.
    RegisterContents contents;
    std::uint32_t declaredCount = 0;
    QString error;
};

// Parses register bytes. Never allocates more than the data can hold.
RegisterParseResult ParseRegister(const QByteArray& data);
QByteArray SerializeRegister(const CPointBase& base);

struct RegisterLoadResult
{
    enum Status { Loaded, NoFile, Damaged };
    Status status = NoFile;
    // For a damaged file: the text for the user and where the copy was kept.
    QString message;
    QString copyPath;
};

QString RegisterPath(const CPointBase& base);

// Loads the register. A file that cannot be opened leaves the register as
// it was. A damaged file keeps the points it fully describes (missing names
// and descriptions empty, missing phones the new-point phone), is copied
// aside before anything can overwrite it, and is reported in the result.
RegisterLoadResult LoadRegister(CPointBase& base);

// Writes the register to a temporary file renamed over the old one. False
// when it could not be written; the old file then stays as it was.
bool SaveRegister(const CPointBase& base);
