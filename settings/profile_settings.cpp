#include "settings/profile_settings.h"

#include <bit>

#include "settings/settings_table.h"

namespace tessaly {

ProfileSettings::ProfileSettings()
    : m_settings(QSettings::NativeFormat, QSettings::UserScope, "Brindlework", "Tessaly")
{
}

ProfileSettings::~ProfileSettings() = default;

std::int32_t ProfileSettings::get(const IntKey& key) const
{
    const QVariant value = m_settings.value(key.name);
    if (!value.isValid()) return key.fallback;
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    if (!ok || number < key.low || number > key.high) return key.fallback;
    return static_cast<std::int32_t>(number);
}

void ProfileSettings::set(const IntKey& key, std::int32_t value)
{
    m_settings.setValue(key.name, value);
}

std::string ProfileSettings::get(const TextKey& key) const
{
    const QVariant value = m_settings.value(key.name);
    if (!value.isValid() || !value.canConvert<QString>()) return key.fallback;
    return value.toString().toStdString();
}

void ProfileSettings::set(const TextKey& key, const std::string& value)
{
    m_settings.setValue(key.name, QString::fromStdString(value));
}

float ProfileSettings::get(const FloatKey& key) const
{
    const QVariant value = m_settings.value(key.name);
    if (!value.isValid()) return key.fallback;
    const std::optional<float> number = decodeTime(value.toByteArray());
    // NaN fails both comparisons and is refused with the rest.
    if (!number || !(*number >= key.low && *number <= key.high)) return key.fallback;
    return *number;
}

void ProfileSettings::set(const FloatKey& key, float value)
{
    m_settings.setValue(key.name, encodeTime(value));
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
    return std::bit_cast<float>(bits);
}

std::string ProfileSettings::language() const
{
    return get(profile_key::kLanguage);
}

// The other program reads these two while this one runs: they go to disk at once.
void ProfileSettings::setLanguage(const std::string& value)
{
    set(profile_key::kLanguage, value);
    flush();
}

std::string ProfileSettings::path() const
{
    return get(profile_key::kPath);
}

void ProfileSettings::setPath(const std::string& value)
{
    set(profile_key::kPath, value);
    flush();
}

bool ProfileSettings::flush()
{
    m_settings.sync();
    return m_settings.status() == QSettings::NoError;
}

}  // namespace tessaly
