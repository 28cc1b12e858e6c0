#include "settings/profile_settings.h"

#include <bit>
#include <limits>

namespace tessaly {
namespace {

// Keys of the profile; their names and types are shared with older installations.
constexpr const char* kGetAutoSectorRereads = "GetAutoSectorRereads";
constexpr const char* kSectorRereadsCount = "SectorRereadsCount";
constexpr const char* kCreateLog = "CreateLog";
constexpr const char* kDeleteLogIfNoErrs = "DeleteLogIfNoErrs";
constexpr const char* kNrrType = "NRRType";
constexpr const char* kNrrValue = "NRRValue";
constexpr const char* kNrrString = "NRRString";
constexpr const char* kTime = "Time";
constexpr const char* kRpFolder = "RPFolder";
constexpr const char* kRpType = "RPType";
constexpr const char* kEfpType = "EFPType";
constexpr const char* kTrimFilled = "TrimFilled";
constexpr const char* kLanguage = "Language";
constexpr const char* kPath = "Path";
constexpr const char* kAutoStartCopying = "AutoStartCopying";
constexpr const char* kDontAskForAddReserveds = "DontAskForAddReserveds";
constexpr const char* kDontAskForLog = "DontAskForLog";
constexpr const char* kDontAskConfirmForExistings = "DontAskConfirmForExistings";
constexpr const char* kReuseOutFolder = "ReuseOutFolder";
constexpr const char* kOutFolder = "OutFolder";
constexpr const char* kShowDetails = "ShowDetails";
constexpr const char* kQuickStart = "QuickStart";

constexpr std::int32_t kIntMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kIntMax = std::numeric_limits<std::int32_t>::max();

}  // namespace

ProfileSettings::ProfileSettings()
    : m_settings(QSettings::NativeFormat, QSettings::UserScope, "Brindlework", "Tessaly")
{
}

ProfileSettings::~ProfileSettings() = default;

std::int32_t ProfileSettings::readInt(const char* key, std::int32_t fallback, std::int32_t low,
                                      std::int32_t high) const
{
    const QVariant value = m_settings.value(key);
    if (!value.isValid()) return fallback;
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    if (!ok || number < low || number > high) return fallback;
    return static_cast<std::int32_t>(number);
}

void ProfileSettings::writeInt(const char* key, std::int32_t value)
{
    m_settings.setValue(key, value);
}

std::string ProfileSettings::readString(const char* key, const char* fallback) const
{
    const QVariant value = m_settings.value(key);
    if (!value.isValid() || !value.canConvert<QString>()) return fallback;
    return value.toString().toStdString();
}

void ProfileSettings::writeString(const char* key, const std::string& value)
{
    m_settings.setValue(key, QString::fromStdString(value));
}

QByteArray ProfileSettings::encodeTime(float value)
{
    const auto bits = std::bit_cast<std::uint32_t>(value);
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
    return bytes;
}

std::optional<float> ProfileSettings::decodeTime(const QByteArray& bytes)
{
    if (bytes.size() != 4) return std::nullopt;
    std::uint32_t bits = 0;
    for (int i = 0; i < 4; ++i)
        bits |= std::uint32_t{static_cast<std::uint8_t>(bytes[i])} << (8 * i);
    const auto value = std::bit_cast<float>(bits);
    // NaN fails both comparisons and is refused with the rest.
    if (!(value >= 0.0f && value <= 1.0f)) return std::nullopt;
    return value;
}

std::int32_t ProfileSettings::autoSectorRereads() const
{
    return readInt(kGetAutoSectorRereads, 1, kIntMin, kIntMax);
}
void ProfileSettings::setAutoSectorRereads(std::int32_t v)
{
    writeInt(kGetAutoSectorRereads, v);
}

// A count below 1 is one the settings page refuses; a negative one would become an
// endless number of attempts per sector.
std::int32_t ProfileSettings::sectorRereadsCount() const
{
    return readInt(kSectorRereadsCount, 1, 1, kIntMax);
}
void ProfileSettings::setSectorRereadsCount(std::int32_t v)
{
    writeInt(kSectorRereadsCount, v);
}

std::int32_t ProfileSettings::createLog() const
{
    return readInt(kCreateLog, 1, kIntMin, kIntMax);
}
void ProfileSettings::setCreateLog(std::int32_t v)
{
    writeInt(kCreateLog, v);
}

std::int32_t ProfileSettings::deleteLogIfNoErrs() const
{
    return readInt(kDeleteLogIfNoErrs, 1, kIntMin, kIntMax);
}
void ProfileSettings::setDeleteLogIfNoErrs(std::int32_t v)
{
    writeInt(kDeleteLogIfNoErrs, v);
}

// An unknown fill would make every unreadable sector end the copy as a write failure.
std::int32_t ProfileSettings::nrrType() const
{
    return readInt(kNrrType, 0, 0, 4);
}
void ProfileSettings::setNrrType(std::int32_t v)
{
    writeInt(kNrrType, v);
}

std::int32_t ProfileSettings::nrrValue() const
{
    return readInt(kNrrValue, 255, kIntMin, kIntMax);
}
void ProfileSettings::setNrrValue(std::int32_t v)
{
    writeInt(kNrrValue, v);
}

std::string ProfileSettings::nrrString() const
{
    return readString(kNrrString, "?");
}
void ProfileSettings::setNrrString(const std::string& v)
{
    writeString(kNrrString, v);
}

float ProfileSettings::time() const
{
    const QVariant value = m_settings.value(kTime);
    if (!value.isValid()) return 0.0f;
    return decodeTime(value.toByteArray()).value_or(0.0f);
}
void ProfileSettings::setTime(float v)
{
    m_settings.setValue(kTime, encodeTime(v));
}

std::string ProfileSettings::rpFolder() const
{
    return readString(kRpFolder, "A:\\Copy\\");
}
void ProfileSettings::setRpFolder(const std::string& v)
{
    writeString(kRpFolder, v);
}

std::int32_t ProfileSettings::rpType() const
{
    return readInt(kRpType, 1, 0, 2);
}
void ProfileSettings::setRpType(std::int32_t v)
{
    writeInt(kRpType, v);
}

std::int32_t ProfileSettings::efpType() const
{
    return readInt(kEfpType, 2, 0, 3);
}
void ProfileSettings::setEfpType(std::int32_t v)
{
    writeInt(kEfpType, v);
}

std::int32_t ProfileSettings::trimFilled() const
{
    return readInt(kTrimFilled, 1, 0, 1);
}
void ProfileSettings::setTrimFilled(std::int32_t v)
{
    writeInt(kTrimFilled, v);
}

std::string ProfileSettings::language() const
{
    return readString(kLanguage, "english.lng");
}
// The other program reads these two while this one runs: they go to disk at once.
void ProfileSettings::setLanguage(const std::string& v)
{
    writeString(kLanguage, v);
    flush();
}

std::string ProfileSettings::path() const
{
    return readString(kPath, "");
}
void ProfileSettings::setPath(const std::string& v)
{
    writeString(kPath, v);
    flush();
}

bool ProfileSettings::flush()
{
    m_settings.sync();
    return m_settings.status() == QSettings::NoError;
}

std::int32_t ProfileSettings::autoStartCopying() const
{
    return readInt(kAutoStartCopying, 1, kIntMin, kIntMax);
}
void ProfileSettings::setAutoStartCopying(std::int32_t v)
{
    writeInt(kAutoStartCopying, v);
}

std::int32_t ProfileSettings::dontAskForAddReserveds() const
{
    return readInt(kDontAskForAddReserveds, 0, kIntMin, kIntMax);
}
void ProfileSettings::setDontAskForAddReserveds(std::int32_t v)
{
    writeInt(kDontAskForAddReserveds, v);
}

std::int32_t ProfileSettings::dontAskForLog() const
{
    return readInt(kDontAskForLog, 0, kIntMin, kIntMax);
}
void ProfileSettings::setDontAskForLog(std::int32_t v)
{
    writeInt(kDontAskForLog, v);
}

std::int32_t ProfileSettings::dontAskConfirmForExistings() const
{
    return readInt(kDontAskConfirmForExistings, 1, kIntMin, kIntMax);
}
void ProfileSettings::setDontAskConfirmForExistings(std::int32_t v)
{
    writeInt(kDontAskConfirmForExistings, v);
}

std::int32_t ProfileSettings::reuseOutFolder() const
{
    return readInt(kReuseOutFolder, 1, kIntMin, kIntMax);
}
void ProfileSettings::setReuseOutFolder(std::int32_t v)
{
    writeInt(kReuseOutFolder, v);
}

std::string ProfileSettings::outFolder() const
{
    return readString(kOutFolder, "");
}
void ProfileSettings::setOutFolder(const std::string& v)
{
    writeString(kOutFolder, v);
}

std::int32_t ProfileSettings::showDetails() const
{
    return readInt(kShowDetails, 0, kIntMin, kIntMax);
}
void ProfileSettings::setShowDetails(std::int32_t v)
{
    writeInt(kShowDetails, v);
}

// 0 none, 1 Add folder, 2 Add files; any other value would leave the start without the
// action the Miscellaneous dialog shows for it.
std::int32_t ProfileSettings::quickStart() const
{
    return readInt(kQuickStart, 2, 0, 2);
}
void ProfileSettings::setQuickStart(std::int32_t v)
{
    writeInt(kQuickStart, v);
}

}  // namespace tessaly
