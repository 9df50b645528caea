#pragma once

#include <QString>

#include <cstdint>

// Per-user settings of one program: organisation "Ostrel", then the
// program's name, then a section, then a value. Every value is read with a
// default, so a missing or unreadable entry never stops a program.
class CSettingsStore
{
public:
    explicit CSettingsStore(QString program);

    const QString& Program() const { return program_; }

    int GetInt(const QString& section, const QString& value, int defaultValue) const;
    std::uint32_t GetUInt(const QString& section, const QString& value, std::uint32_t defaultValue) const;
    QString GetString(const QString& section, const QString& value, const QString& defaultValue) const;
    void WriteInt(const QString& section, const QString& value, int data);
    void WriteString(const QString& section, const QString& value, const QString& data);

private:
    QString program_;
};

// Program names, sections, values and defaults of both programs.
namespace Settings {
inline constexpr char16_t kOrganisation[] = u"Ostrel";

inline constexpr char16_t kServerProgram[] = u"Varkon";
inline constexpr char16_t kIpSection[] = u"IP setting";
inline constexpr char16_t kIpPort[] = u"IP port";
inline constexpr int kDefaultIpPort = 49275;
inline constexpr char16_t kSettingSection[] = u"Setting";
inline constexpr char16_t kBaseFolder[] = u"Base folder";

inline constexpr char16_t kToolProgram[] = u"Tesmark";
inline constexpr char16_t kRs232Section[] = u"RS232";
inline constexpr char16_t kRs232Port[] = u"RS232 port";
inline constexpr char16_t kDefaultRs232Port[] = u"COM1";
inline constexpr char16_t kRs232Baudrate[] = u"RS232 baudrate";
inline constexpr int kDefaultRs232Baudrate = 115200;
inline constexpr char16_t kRs232Size[] = u"RS232 size";
inline constexpr int kDefaultRs232Size = 8;
inline constexpr char16_t kRs232Stop[] = u"RS232 stop";
inline constexpr int kDefaultRs232Stop = 0;
inline constexpr char16_t kRs232Parity[] = u"RS232 parity";
inline constexpr int kDefaultRs232Parity = 0;
inline constexpr char16_t kLastSerial[] = u"Last serial";

// Serial port names "COMn" map to device paths in this section.
inline constexpr char16_t kPortsSection[] = u"Ports";
} // namespace Settings
