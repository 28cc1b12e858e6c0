#pragma once

#include <QByteArray>
#include <QSettings>
#include <cstdint>
#include <optional>
#include <string>

namespace tessaly {

// The copier's settings in the user's profile: organisation "Brindlework", application
// "Tessaly" (~/.config/Brindlework/Tessaly.conf here, the registry key of that name on
// Windows). Every getter returns the stored value, or the key's default when the value
// is missing, has the wrong type or lies outside the key's range, so a damaged profile
// cannot put the engine into a state the settings pages could never produce. Every
// setter stores its value at once, where every ProfileSettings of this process sees it;
// it reaches the disk at flush(), which setLanguage, setPath and saveSettings call, and
// at the latest when the object is destroyed.
class ProfileSettings
{
public:
    ProfileSettings();
    virtual ~ProfileSettings();
    ProfileSettings(const ProfileSettings&) = delete;
    ProfileSettings& operator=(const ProfileSettings&) = delete;

    // Engine settings.
    std::int32_t autoSectorRereads() const;  // "GetAutoSectorRereads", default 1
    void setAutoSectorRereads(std::int32_t value);
    std::int32_t sectorRereadsCount() const;  // "SectorRereadsCount", default 1, at least 1
    void setSectorRereadsCount(std::int32_t value);
    std::int32_t createLog() const;  // "CreateLog", default 1
    void setCreateLog(std::int32_t value);
    std::int32_t deleteLogIfNoErrs() const;  // "DeleteLogIfNoErrs", default 1
    void setDeleteLogIfNoErrs(std::int32_t value);
    std::int32_t nrrType() const;  // "NRRType", default 0 (Zeros), 0 to 4
    void setNrrType(std::int32_t value);
    std::int32_t nrrValue() const;  // "NRRValue", default 255, as stored
    void setNrrValue(std::int32_t value);
    std::string nrrString() const;  // "NRRString", default "?"
    void setNrrString(const std::string& value);
    float time() const;  // "Time", 4 little-endian bytes of a float in [0, 1], default 0
    void setTime(float value);
    std::string rpFolder() const;  // "RPFolder", default "A:\Copy\"
    void setRpFolder(const std::string& value);
    std::int32_t rpType() const;  // "RPType", default 1 (In the same folder), 0 to 2
    void setRpType(std::int32_t value);
    std::int32_t efpType() const;  // "EFPType", default 2 (Resume), 0 to 3
    void setEfpType(std::int32_t value);
    std::int32_t trimFilled() const;  // "TrimFilled", default 1 (trim pass on), 0 or 1
    void setTrimFilled(std::int32_t value);

    // Window settings.
    std::string language() const;  // "Language", default "english.lng"
    void setLanguage(const std::string& value);
    std::string path() const;  // "Path", default empty: the program folder
    void setPath(const std::string& value);
    std::int32_t autoStartCopying() const;  // "AutoStartCopying", default 1
    void setAutoStartCopying(std::int32_t value);
    std::int32_t dontAskForAddReserveds() const;  // "DontAskForAddReserveds", default 0
    void setDontAskForAddReserveds(std::int32_t value);
    std::int32_t dontAskForLog() const;  // "DontAskForLog", default 0
    void setDontAskForLog(std::int32_t value);
    std::int32_t dontAskConfirmForExistings() const;  // "DontAskConfirmForExistings", 1
    void setDontAskConfirmForExistings(std::int32_t value);
    std::int32_t reuseOutFolder() const;  // "ReuseOutFolder", default 1
    void setReuseOutFolder(std::int32_t value);
    std::string outFolder() const;  // "OutFolder", default empty
    void setOutFolder(const std::string& value);
    std::int32_t showDetails() const;  // "ShowDetails", default 0
    void setShowDetails(std::int32_t value);
    std::int32_t quickStart() const;  // "QuickStart", default 2 (Add files), 0 to 2
    void setQuickStart(std::int32_t value);

    // Writes what the setters stored to disk; false when that failed.
    bool flush();

    // The store itself, for checks of what it holds.
    QSettings& store() { return m_settings; }

    // The stored form of Time, and back; nothing when bytes are not a float in [0, 1].
    static QByteArray encodeTime(float value);
    static std::optional<float> decodeTime(const QByteArray& bytes);

private:
    std::int32_t readInt(const char* key, std::int32_t fallback, std::int32_t low,
                         std::int32_t high) const;
    void writeInt(const char* key, std::int32_t value);
    std::string readString(const char* key, const char* fallback) const;
    void writeString(const char* key, const std::string& value);

    mutable QSettings m_settings;
};

}  // namespace tessaly
