#pragma once

#include <QByteArray>
#include <QSettings>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace tessaly {

// A key of the profile stored as a 32-bit integer, with its default and the values it
// accepts; a stored value outside [low, high] reads as the default.
struct IntKey
{
    const char* name;
    std::int32_t fallback;
    std::int32_t low = std::numeric_limits<std::int32_t>::min();
    std::int32_t high = std::numeric_limits<std::int32_t>::max();
};

// The key of an enum stored by number: it accepts the enum's values, from 0 to last.
template <class Enum>
constexpr IntKey enumKey(const char* name, Enum fallback, Enum last)
{
    return {name, static_cast<std::int32_t>(fallback), 0, static_cast<std::int32_t>(last)};
}

// A key of the profile stored as text.
struct TextKey
{
    const char* name;
    const char* fallback;
};

// A key of the profile stored as 4 little-endian bytes of a float; a stored value
// outside [low, high], NaN or of another length reads as the default.
struct FloatKey
{
    const char* name;
    float fallback;
    float low;
    float high;
};

// The copier's settings in the user's profile: organisation "Brindlework", application
// "Tessaly" (~/.config/Brindlework/Tessaly.conf here, the registry key of that name on
// Windows). The keys, with their defaults and ranges, are in settings_table.h. Every
// get returns the stored value, or the key's default when the value is missing, has
// the wrong type or lies outside the key's range, so a damaged profile cannot put the
// engine into a state the settings pages could never produce. Every set stores its
// value at once, where every ProfileSettings of this process sees it; it reaches the
// disk at flush(), which setLanguage, setPath and saveSettings call, and at the latest
// when the object is destroyed.
class ProfileSettings
{
public:
    ProfileSettings();
    virtual ~ProfileSettings();
    ProfileSettings(const ProfileSettings&) = delete;
    ProfileSettings& operator=(const ProfileSettings&) = delete;

    std::int32_t get(const IntKey& key) const;
    void set(const IntKey& key, std::int32_t value);
    std::string get(const TextKey& key) const;
    void set(const TextKey& key, const std::string& value);
    float get(const FloatKey& key) const;
    void set(const FloatKey& key, float value);

    // The two keys the companion tool shares: their setters write to disk at once.
    std::string language() const;  // "Language", default "english.lng"
    void setLanguage(const std::string& value);
    std::string path() const;  // "Path", default empty: the program folder
    void setPath(const std::string& value);

    // Writes what was set to disk; false when that failed.
    bool flush();

    // The store itself, for checks of what it holds.
    QSettings& store() { return m_settings; }

    // The stored form of a float key's value, and back; nothing when bytes are not 4.
    static QByteArray encodeTime(float value);
    static std::optional<float> decodeTime(const QByteArray& bytes);

private:
    mutable QSettings m_settings;
};

}  // namespace tessaly
